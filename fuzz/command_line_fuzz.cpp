// Command-line splitting and building on any text (the fuzz bytes read as UTF-8, malformed
// sequences becoming U+FFFD, so any UTF-16 unit but a lone surrogate can appear):
// - splitting never makes up text: no unit comes out more often than it went in;
// - the arguments split from a line, written into a child's command line, split back unchanged,
//   and building fails exactly when one of them holds a NUL;
// - the option scan names only an unknown argument it was given.
#include "common/utf.hpp"
#include "driver/command_line.hpp"
#include "driver/launch.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Args = std::vector<std::u16string>;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// True when no unit occurs more often in `parts` than in `source`.
bool takes_only_from(const Args& parts, std::u16string_view source) {
    std::map<char16_t, long> budget;
    for (char16_t c : source) ++budget[c];
    for (const std::u16string& part : parts) {
        for (char16_t c : part)
            if (--budget[c] < 0) return false;
    }
    return true;
}

bool holds_nul(const std::u16string& text) { return text.find(u'\0') != std::u16string::npos; }

// Builds a command line from argument 0 and the rest, splits it, and requires the same list.
void require_round_trip(const Args& args, const char* what) {
    const Args rest(args.begin() + 1, args.end());
    const auto line = tevra::build_command_line(args[0], rest);
    require(line.has_value(), what);
    require(tevra::split_command_line(*line) == args, what);
}

void check_split(std::u16string_view line) {
    const Args args = tevra::split_command_line(line);
    require(!args.empty(), "argument 0 is always there");
    require(args[0].find(u'"') == std::u16string::npos, "argument 0 holds no quote");
    require(takes_only_from(args, line), "splitting makes up no text");

    const bool any_nul = std::ranges::any_of(args, holds_nul);
    if (any_nul) {
        const Args rest(args.begin() + 1, args.end());
        const auto built = tevra::build_command_line(args[0], rest);
        require(!built.has_value() && built.error() == "nul byte found in provided data", "a NUL fails the build");
    } else {
        require_round_trip(args, "split arguments survive a child's command line");
    }
}

void check_options(const Args& args16) {
    std::vector<std::string> args;
    for (const std::u16string& arg : args16) {
        auto text = tevra::utf16_to_utf8(arg);
        if (!text) return;  // the updater stops before reading any option
        args.push_back(std::move(*text));
    }
    (void)tevra::asks_for_help(args);
    const auto command = tevra::scan_options(args);
    if (!command && command.error().starts_with("unknown arg: ")) {
        const std::string unknown = command.error().substr(13);
        require(std::find(args.begin() + 1, args.end(), unknown) != args.end(), "an unknown arg was given");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = tevra::utf8_to_utf16(std::string_view(reinterpret_cast<const char*>(data), size));
    check_split(text);
    check_options(tevra::split_command_line(text));
    return 0;
}

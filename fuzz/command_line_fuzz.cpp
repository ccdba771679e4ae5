// Command-line splitting and building on any text (the fuzz bytes read as UTF-8, malformed
// sequences becoming U+FFFD, so any UTF-16 unit but a lone surrogate can appear):
// - splitting never makes up text: no unit comes out more often than it went in;
// - the arguments split from a line, written into a child's command line, split back unchanged,
//   and building fails exactly when one of them holds a NUL.
#include "common/utf.hpp"
#include "driver/command_line.hpp"
#include "driver/launch.hpp"
#include "require.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Args = std::vector<std::u16string>;

// True when no unit occurs more often in `parts` than in `source`.
bool takes_only_from(const Args& parts, std::u16string_view source) {
    std::map<char16_t, long> budget;
    for (char16_t c : source) ++budget[c];
    for (const std::u16string& part : parts)
        for (char16_t c : part)
            if (--budget[c] < 0) return false;
    return true;
}

void check_split(std::u16string_view line) {
    const Args args = tevra::split_command_line(line);
    require(!args.empty(), "argument 0 is always there");
    require(args[0].find(u'"') == std::u16string::npos, "argument 0 holds no quote");
    require(takes_only_from(args, line), "splitting makes up no text");

    const auto built = tevra::build_command_line(args[0], Args(args.begin() + 1, args.end()));
    if (std::ranges::any_of(args, [](const auto& arg) { return arg.contains(u'\0'); }))
        require(!built && built.error() == "nul byte found in provided data", "a NUL fails the build");
    else
        require(built && tevra::split_command_line(*built) == args, "split arguments survive a child's command line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = tevra::utf8_to_utf16(std::string_view(reinterpret_cast<const char*>(data), size));
    check_split(text);
    return 0;
}

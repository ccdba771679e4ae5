#include "driver/cli/windows_command_line.hpp"

#include <algorithm>

namespace tevra {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

bool needs_quotes(std::u16string_view arg) { return arg.empty() || std::ranges::any_of(arg, is_blank); }

void append_argument(std::u16string& line, std::u16string_view arg) {
    const bool quoted = needs_quotes(arg);
    if (quoted) line += u'"';
    std::size_t backslashes = 0;
    for (char16_t c : arg) {
        if (c == u'\\') {
            ++backslashes;
        } else {
            // The backslashes before a quote escape themselves, then one more escapes the quote.
            if (c == u'"') line.append(backslashes + 1, u'\\');
            backslashes = 0;
        }
        line += c;
    }
    if (quoted) {
        // Trailing backslashes would escape the closing quote: double them.
        line.append(backslashes, u'\\');
        line += u'"';
    }
}

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
    std::vector<std::u16string> args;
    std::size_t i = 0;

    // Argument 0: quotes toggle, backslashes are plain.
    std::u16string program;
    bool quoted = false;
    for (; i < line.size(); ++i) {
        char16_t c = line[i];
        if (c == u'"')
            quoted = !quoted;
        else if (is_blank(c) && !quoted)
            break;
        else
            program += c;
    }
    args.push_back(std::move(program));
    while (i < line.size() && is_blank(line[i])) ++i;

    std::u16string current;
    quoted = false;
    while (i < line.size()) {
        char16_t c = line[i];
        if (is_blank(c) && !quoted) {
            args.push_back(std::move(current));
            current.clear();
            while (i < line.size() && is_blank(line[i])) ++i;
            continue;
        }
        if (c == u'\\') {
            std::size_t run = 0;
            while (i < line.size() && line[i] == u'\\') {
                ++run;
                ++i;
            }
            if (i < line.size() && line[i] == u'"') {
                current.append(run / 2, u'\\');
                if (run % 2 == 1) {
                    current += u'"';
                    ++i;
                }
            } else {
                current.append(run, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            if (!quoted) {
                quoted = true;
            } else if (i + 1 < line.size() && line[i + 1] == u'"') {
                current += u'"';
                ++i;
            } else if (i + 1 < line.size()) {
                quoted = false;
            }
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (!current.empty() || quoted) args.push_back(std::move(current));
    return args;
}

std::expected<std::u16string, std::string> build_command_line(std::u16string_view program,
                                                              const std::vector<std::u16string>& args) {
    const auto nul_failure = [] { return std::unexpected(std::string("nul byte found in provided data")); };
    if (program.find(u'\0') != std::u16string_view::npos) return nul_failure();
    std::u16string line;
    line += u'"';
    line += program;
    line += u'"';
    for (const std::u16string& arg : args) {
        if (arg.find(u'\0') != std::u16string::npos) return nul_failure();
        line += u' ';
        append_argument(line, arg);
    }
    return line;
}

}  // namespace tevra

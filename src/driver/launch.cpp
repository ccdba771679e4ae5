#include "driver/launch.hpp"

#include "common/paths.hpp"
#include "driver/command_line.hpp"

#include <algorithm>

namespace tevra {
namespace {

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

std::vector<std::u16string> split_search_path(std::u16string_view path_variable) {
    std::vector<std::u16string> entries;
    std::u16string entry;
    bool quoted = false;
    for (char16_t c : path_variable) {
        if (c == u'"') {
            quoted = !quoted;
        } else if (c == u';' && !quoted) {
            if (!entry.empty()) entries.push_back(std::move(entry));
            entry.clear();
        } else {
            entry += c;
        }
    }
    if (!entry.empty()) entries.push_back(std::move(entry));
    return entries;
}

std::vector<std::u16string> search_directories(const std::optional<std::u16string>& own_directory,
                                               const std::optional<std::u16string>& system_directory,
                                               const std::optional<std::u16string>& windows_directory,
                                               const std::optional<std::u16string>& path_variable) {
    std::vector<std::u16string> dirs;
    for (const auto* dir : {&own_directory, &system_directory, &windows_directory})
        if (*dir && !(*dir)->empty()) dirs.push_back(**dir);
    if (!path_variable) return dirs;
    // A relative entry would be resolved against the current directory or drive, where anyone may
    // have put a program of that name.
    for (std::u16string& dir : split_search_path(*path_variable))
        if (is_absolute_path(dir)) dirs.push_back(std::move(dir));
    return dirs;
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

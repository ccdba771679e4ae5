// Portable: the updater's own command line: splitting it by the Windows convention for program
// arguments, the help request, and the options.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tevra {

inline constexpr std::string_view usage_text = "TevraRemoteUpdater\n"
                                               "  --apply-msi <path> --expected-version <ver>\n"
                                               "  --mark-awaiting-first-start\n";

// Only space and tab separate arguments; every other character, line breaks included, is ordinary.
inline bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// Splits a non-empty command line. Element 0 is the program name as written; an empty command line
// is the caller's business (it has no head).
std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// "-h" or "--help" anywhere, argument 0 and option values included.
bool asks_for_help(const std::vector<std::string>& args);

// clang-tidy 16 takes libc++ 16's noexcept std::string move constructor for one that may throw,
// and so the implicit noexcept move of this struct too.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct ApplyRequest {
    std::string msi_path;
    std::string expected_version;
};
struct MarkAwaitingFirstStart {};

using Command = std::variant<ApplyRequest, MarkAwaitingFirstStart>;

// Reads the options after argument 0 (UTF-8); a failure is the text the driver reports.
std::expected<Command, std::string> scan_options(const std::vector<std::string>& args);

}  // namespace tevra

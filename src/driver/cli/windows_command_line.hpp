// Portable: the Windows convention for program arguments in both directions: splitting the
// updater's own command line, and writing a child's so that it splits back into the same arguments.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace tevra {

// Splits a non-empty command line. Element 0 is the program name as written; an empty command line
// is the caller's business (it has no head).
std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// The program name in double quotes, then one space and each argument, written so that splitting
// gives the arguments back unchanged. An argument is quoted when it is empty or holds a blank or a
// tab; backslashes are doubled only where a quote follows them.
// A NUL in the program name or in an argument fails with "nul byte found in provided data".
std::expected<std::u16string, std::string> build_command_line(std::u16string_view program,
                                                              const std::vector<std::u16string>& args);

}  // namespace tevra

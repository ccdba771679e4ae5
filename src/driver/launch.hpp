// The text side of starting a child program: its command line and the search path. Portable.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace tevra {

// The program name in double quotes, then one space and each argument, written so that the
// Windows argument convention gives the arguments back unchanged. An argument is quoted when it
// is empty or holds a blank or a tab; backslashes are doubled only where a quote follows them.
// A NUL in the program name or in an argument fails with "nul byte found in provided data".
std::expected<std::u16string, std::string> build_command_line(std::u16string_view program,
                                                              const std::vector<std::u16string>& args);

// The directories of a PATH value: separated by ';', where a stretch in double quotes may hold
// ';' and loses its quotes. Empty entries are left out.
std::vector<std::u16string> split_search_path(std::u16string_view path_variable);

}  // namespace tevra

// Portable: finding a program named without a folder, and the child's command line; running it and
// waiting (run_and_wait) is the Win32 edge, launch_win.cpp.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tevra {

// The directories of a PATH value: separated by ';', where a stretch in double quotes may hold
// ';' and loses its quotes. Empty entries are left out.
std::vector<std::u16string> split_search_path(std::u16string_view path_variable);

// In search order: the program's own folder, the system directory, the Windows directory, then the
// absolute PATH entries. The current directory is never searched: an unknown or empty directory is
// left out rather than passed on as "", and so is a relative PATH entry (".", "bin", "C:x", "\tools").
std::vector<std::u16string> search_directories(const std::optional<std::u16string>& own_directory,
                                               const std::optional<std::u16string>& system_directory,
                                               const std::optional<std::u16string>& windows_directory,
                                               const std::optional<std::u16string>& path_variable);

// The program name in double quotes, then one space and each argument, written so that splitting
// gives the arguments back unchanged. An argument is quoted when it is empty or holds a blank or a
// tab; backslashes are doubled only where a quote follows them.
// A NUL in the program name or in an argument fails with "nul byte found in provided data".
std::expected<std::u16string, std::string> build_command_line(std::u16string_view program,
                                                              const std::vector<std::u16string>& args);

// Looks for `program` + ".exe" in the search directories; starts it with the given arguments, the
// updater's environment, current directory and standard handles; waits without a time limit and gives
// back the child's exit code read as a signed number. Texts go to the system unit for unit.
// Failures: "program not found" (nothing started), "nul byte found in provided data", or the system
// error text of the call that failed.
std::expected<std::int32_t, std::string> run_and_wait(std::u16string_view program,
                                                      const std::vector<std::u16string>& args);

}  // namespace tevra

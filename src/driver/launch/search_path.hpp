// Portable: where a program named without a folder is looked for.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tevra {

// The directories of a PATH value: separated by ';', where a stretch in double quotes may hold
// ';' and loses its quotes. Empty entries are left out.
std::vector<std::u16string> split_search_path(std::u16string_view path_variable);

// In search order: the program's own folder, the system directory, the Windows directory, then the
// PATH entries. The current directory is never searched, so an unknown or empty directory is left
// out rather than passed on as "".
std::vector<std::u16string> search_directories(const std::optional<std::u16string>& own_directory,
                                               const std::optional<std::u16string>& system_directory,
                                               const std::optional<std::u16string>& windows_directory,
                                               const std::optional<std::u16string>& path_variable);

}  // namespace tevra

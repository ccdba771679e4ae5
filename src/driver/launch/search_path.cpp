#include "driver/launch/search_path.hpp"

namespace tevra {

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
    if (path_variable)
        for (std::u16string& dir : split_search_path(*path_variable)) dirs.push_back(std::move(dir));
    return dirs;
}

}  // namespace tevra

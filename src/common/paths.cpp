#include "common/paths.hpp"

namespace tevra {
namespace {

// The longest drive-absolute or network path the file functions take without the "\\?\" prefix.
constexpr std::size_t longest_plain_path = 246;

bool is_bare_drive(std::u16string_view path) { return path.size() == 2 && is_drive_letter(path[0]) && path[1] == u':'; }

bool starts_with_two_separators(std::u16string_view path) {
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

}  // namespace

std::u16string join_path(std::u16string_view base, std::u16string_view component) {
    std::u16string joined(base);
    if (!base.empty() && !is_separator(base.back()) && !is_bare_drive(base)) joined += u'\\';
    joined += component;
    return joined;
}

std::u16string parent_of(std::u16string_view path) {
    std::size_t end = path.size();
    while (end > 0 && is_separator(path[end - 1])) --end;
    while (end > 0 && !is_separator(path[end - 1])) --end;
    // Drop the separators before the last name, but keep a root ("\\", "C:\\").
    while (end > 1 && is_separator(path[end - 1]) && path[end - 2] != u':' && !is_separator(path[end - 2])) --end;
    return std::u16string(path.substr(0, end));
}

std::optional<std::u16string> directory_of(std::u16string_view file_path) {
    const std::size_t separator = file_path.find_last_of(u"\\/");
    if (separator == std::u16string_view::npos) return std::nullopt;
    return std::u16string(file_path.substr(0, separator + 1));
}

bool passes_to_system_unchanged(std::u16string_view path) {
    if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\??\\")) return true;
    const bool drive_absolute =
        path.size() >= 2 && is_drive_letter(path[0]) && path[1] == u':' && (path.size() == 2 || is_separator(path[2]));
    return (drive_absolute || starts_with_two_separators(path)) && path.size() <= longest_plain_path;
}

std::u16string extended_length_form(std::u16string_view full_path) {
    if (full_path.starts_with(u"\\\\?\\")) return std::u16string(full_path);
    if (full_path.starts_with(u"\\\\.\\")) return u"\\\\?\\" + std::u16string(full_path.substr(4));
    if (starts_with_two_separators(full_path)) return u"\\\\?\\UNC\\" + std::u16string(full_path.substr(2));
    return u"\\\\?\\" + std::u16string(full_path);
}

}  // namespace tevra

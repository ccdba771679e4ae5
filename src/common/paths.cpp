#include "common/paths.hpp"

namespace tevra {
namespace {

constexpr std::size_t longest_plain_path = 246;

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }
bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool is_bare_drive(std::u16string_view path) {
    return path.size() == 2 && is_drive_letter(path[0]) && path[1] == u':';
}

}  // namespace

std::u16string join_path(std::u16string_view base, std::u16string_view component) {
    std::u16string joined(base);
    if (!base.empty() && !is_separator(base.back()) && !is_bare_drive(base)) joined += u'\\';
    joined += component;
    return joined;
}

bool passes_to_system_unchanged(std::u16string_view path) {
    if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\??\\")) return true;
    bool drive_absolute = path.size() >= 2 && is_drive_letter(path[0]) && path[1] == u':' &&
                          (path.size() == 2 || is_separator(path[2]));
    bool double_separator = path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
    return (drive_absolute || double_separator) && path.size() <= longest_plain_path;
}

std::u16string extended_length_form(std::u16string_view full_path) {
    if (full_path.starts_with(u"\\\\?\\")) return std::u16string(full_path);
    if (full_path.starts_with(u"\\\\.\\")) return u"\\\\?\\" + std::u16string(full_path.substr(4));
    if (full_path.size() >= 2 && is_separator(full_path[0]) && is_separator(full_path[1])) {
        return u"\\\\?\\UNC\\" + std::u16string(full_path.substr(2));
    }
    return u"\\\\?\\" + std::u16string(full_path);
}

}  // namespace tevra

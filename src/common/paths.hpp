// Portable: the rules of Windows path texts (UTF-16 units), with no file system access.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tevra {

// The prefixes of verbatim ("\\?\", the extended-length form) and device ("\\.\") paths.
inline constexpr std::u16string_view verbatim_prefix = u"\\\\?\\";
inline constexpr std::u16string_view device_prefix = u"\\\\.\\";

inline bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }
inline bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
// A drive letter and a colon, as in "C:", "C:x" and "C:\x".
inline bool starts_with_drive(std::u16string_view path) {
    return path.size() >= 2 && is_drive_letter(path[0]) && path[1] == u':';
}

// Absolute, so the current directory or drive plays no part: a drive with its root ("C:\"), or two
// leading separators (a network path "\\server\share", or "\\?\" and "\\.\").
bool is_absolute_path(std::u16string_view path);

// Inserts exactly one backslash unless `base` is empty, ends in a separator or is a bare drive ("C:").
std::u16string join_path(std::u16string_view base, std::u16string_view component);

// The path without its last name and the separators before it; a root ("\", "C:\") stays.
std::u16string parent_of(std::u16string_view path);

// The directory part of a file's path, ending in its separator (never drive-relative "C:x");
// nothing when the path holds no separator.
std::optional<std::u16string> directory_of(std::u16string_view file_path);

// True when the path may reach the system as it is: already "\\?\" or "\??\", or a short
// drive-absolute or double-separator path. Anything else must be made absolute and prefixed.
bool passes_to_system_unchanged(std::u16string_view path);

// The extended-length form of an absolute path as GetFullPathNameW gives it.
std::u16string extended_length_form(std::u16string_view full_path);

// True when every component of `dir` (prefix, root, names) equals the component of `path` at the
// same position. Names compare unit for unit; only a drive letter ignores case. "C:\x" never lies
// inside "\\?\C:\" since the prefixes differ in kind.
bool path_starts_with(std::u16string_view path, std::u16string_view dir);

}  // namespace tevra

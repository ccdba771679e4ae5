// Handing paths to the system: the one place that applies the extended-length rule.
#pragma once

#include <string>
#include <string_view>

namespace tevra::win {

// NUL-terminated UTF-16 the file APIs accept: relative and long paths are made absolute and
// given the "\\?\" prefix. If the system cannot make the path absolute it is passed unchanged
// and the call that uses it reports the error.
std::u16string system_path(std::u16string_view path);

inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline wchar_t* wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
inline std::u16string_view u16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

}  // namespace tevra::win

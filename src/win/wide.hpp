// Win32: UTF-16 texts held as char16_t, handed to and taken from the W functions, which use wchar_t.
#pragma once

#include <string>
#include <string_view>

namespace tevra::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take UTF-16 units");

inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline wchar_t* wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline std::u16string_view u16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

}  // namespace tevra::win

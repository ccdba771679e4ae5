// Win32: the thin layer over the system that every Win32 file shares: UTF-16 texts handed to the W
// functions, the path hand-over rule, the environment, system error texts and whole writes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace tevra::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take UTF-16 units");

inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline wchar_t* wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline std::u16string_view u16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

// NUL-terminated UTF-16 the file APIs accept: relative and long paths are made absolute and given the
// "\\?\" prefix. If the system cannot make the path absolute it is passed unchanged and the call that
// uses it reports the error.
std::u16string system_path(std::u16string_view path);

// A variable counts as defined when the lookup succeeds, also with an empty value.
std::optional<std::u16string> environment_variable(const char16_t* name);

// The running program's own file, or nothing when the system cannot tell.
std::optional<std::u16string> program_file_path();

// The system's message for `code` followed by " (os error <code>)".
std::string system_error_text(std::uint32_t code);

// The failure result carrying that text.
inline std::unexpected<std::string> system_failure(std::uint32_t code) {
    return std::unexpected(system_error_text(code));
}

// Writes until every byte is written. A write that reports no progress fails with "failed to write
// whole buffer"; a failed write with the system error text.
std::expected<void, std::string> write_all(HANDLE handle, std::string_view bytes);

}  // namespace tevra::win

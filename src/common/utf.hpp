// Portable: UTF-8 <-> UTF-16 conversion, the one place texts change encoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tevra {

// Fails on an unpaired surrogate.
std::optional<std::string> utf16_to_utf8(std::u16string_view text);

// Malformed UTF-8 becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

// Appends the UTF-8 form of a code point up to U+10FFFF (surrogates are the caller's concern).
void append_utf8(std::string& out, char32_t code_point);

}  // namespace tevra

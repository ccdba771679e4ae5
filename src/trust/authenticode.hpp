// Portable: the Authenticode verdict on a package file and how the trust provider's status maps to it;
// asking the provider itself (verify_authenticode) is the Win32 edge, authenticode_win.cpp.
#pragma once

#include <cstdint>
#include <string_view>

namespace tevra {

enum class AuthenticodeVerdict : std::uint8_t { Valid, Invalid, Unsigned };

// "Valid", "Invalid" or "Unsigned".
std::string_view verdict_name(AuthenticodeVerdict verdict);

// 0 is Valid, TRUST_E_NOSIGNATURE is Unsigned, anything else is Invalid.
AuthenticodeVerdict verdict_from_status(std::uint32_t status);

// Generic verification policy, no UI, no revocation checks. Never fails: every problem, an
// unavailable provider included, is the verdict Invalid.
AuthenticodeVerdict verify_authenticode(std::u16string_view path);

}  // namespace tevra

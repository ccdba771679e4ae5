// The Authenticode verdict on a package file.
#pragma once

#include <cstdint>
#include <string_view>

namespace tevra {

enum class AuthenticodeVerdict : std::uint8_t { Valid, Invalid, Unsigned };

// "Valid", "Invalid" or "Unsigned".
std::string_view verdict_name(AuthenticodeVerdict verdict);

// 0 is Valid, TRUST_E_NOSIGNATURE is Unsigned, anything else is Invalid.
AuthenticodeVerdict verdict_from_status(std::uint32_t status);

// Asks the system trust provider (generic verification policy, no UI, no revocation checks).
// Never fails: every problem, an unavailable provider included, is the verdict Invalid. Win32.
AuthenticodeVerdict verify_authenticode(std::u16string_view path);

}  // namespace tevra

// Win32: asking the system trust provider for the Authenticode verdict on a file.
#pragma once

#include "trust/verdict.hpp"

#include <string_view>

namespace tevra {

// Generic verification policy, no UI, no revocation checks. Never fails: every problem, an
// unavailable provider included, is the verdict Invalid.
AuthenticodeVerdict verify_authenticode(std::u16string_view path);

}  // namespace tevra

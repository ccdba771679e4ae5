#include "trust/authenticode.hpp"

namespace tevra {

std::string_view verdict_name(AuthenticodeVerdict verdict) {
    switch (verdict) {
        case AuthenticodeVerdict::Valid: return "Valid";
        case AuthenticodeVerdict::Unsigned: return "Unsigned";
        case AuthenticodeVerdict::Invalid: break;
    }
    return "Invalid";
}

AuthenticodeVerdict verdict_from_status(std::uint32_t status) {
    constexpr std::uint32_t no_signature = 0x800B0100;  // TRUST_E_NOSIGNATURE
    if (status == 0) return AuthenticodeVerdict::Valid;
    if (status == no_signature) return AuthenticodeVerdict::Unsigned;
    return AuthenticodeVerdict::Invalid;
}

}  // namespace tevra

#include "trust/authenticode.hpp"

#include "trust/wintrust_layout.hpp"
#include "win/system.hpp"
#include "win/unique_handle.hpp"

#include <windows.h>

#include <string>

namespace tevra {

AuthenticodeVerdict verify_authenticode(std::u16string_view path) {
    // Loaded only when an apply gets this far, and only from the system directory: importing it
    // would slow every start, and a search by name could pick up a planted copy.
    win::UniqueModule provider(::LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!provider) return AuthenticodeVerdict::Invalid;
    auto verify = reinterpret_cast<wintrust::VerifyFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(provider.get(), "WinVerifyTrust")));
    if (verify == nullptr) return AuthenticodeVerdict::Invalid;

    const std::u16string file_path(path);
    const LONG status = wintrust::verify_file(verify, win::wide(file_path));
    return verdict_from_status(static_cast<std::uint32_t>(status));
}

}  // namespace tevra

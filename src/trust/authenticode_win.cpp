#include "trust/authenticode.hpp"

#include "trust/wintrust_layout.hpp"
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

    std::u16string file_path(path);
    wintrust::FileInfo file{sizeof(wintrust::FileInfo), reinterpret_cast<const wchar_t*>(file_path.c_str()), nullptr,
                            nullptr};
    wintrust::Data data{};
    data.cbStruct = sizeof(wintrust::Data);
    data.dwUIChoice = wintrust::ui_none;
    data.fdwRevocationChecks = wintrust::revoke_none;
    data.dwUnionChoice = wintrust::choice_file;
    data.pFile = &file;
    data.dwStateAction = wintrust::state_action_verify;
    data.dwProvFlags = 0;
    data.dwUIContext = wintrust::ui_context_execute;

    LONG status = verify(nullptr, &wintrust::generic_verify_v2, &data);
    // The provider's state is released whatever the verification said.
    data.dwStateAction = wintrust::state_action_close;
    verify(nullptr, &wintrust::generic_verify_v2, &data);
    return verdict_from_status(static_cast<std::uint32_t>(status));
}

}  // namespace tevra

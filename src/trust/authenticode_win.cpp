#include "trust/authenticode.hpp"

#include "win/unique_handle.hpp"

#include <windows.h>

#include <cstddef>
#include <string>

namespace tevra {
namespace {

// The trust provider's structures in their full current layout. Some SDK headers stop before
// pSignatureSettings; the size field tells the provider which layout it gets.
struct TrustFileInfo {
    DWORD cbStruct;
    const wchar_t* pcwszFilePath;
    HANDLE hFile;
    const GUID* pgKnownSubject;
};

struct TrustData {
    DWORD cbStruct;
    void* pPolicyCallbackData;
    void* pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    TrustFileInfo* pFile;
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    wchar_t* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
    void* pSignatureSettings;
};

static_assert(sizeof(void*) != 8 || sizeof(TrustFileInfo) == 32);
static_assert(sizeof(void*) != 8 || sizeof(TrustData) == 88);

constexpr DWORD ui_none = 2;
constexpr DWORD revoke_none = 0;
constexpr DWORD choice_file = 1;
constexpr DWORD state_action_verify = 1;
constexpr DWORD state_action_close = 2;
constexpr DWORD ui_context_execute = 0;

// WINTRUST_ACTION_GENERIC_VERIFY_V2
GUID generic_verify_v2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

using WinVerifyTrustFunction = LONG(WINAPI*)(HWND, GUID*, void*);

}  // namespace

AuthenticodeVerdict verify_authenticode(std::u16string_view path) {
    // Loaded only when an apply gets this far, and only from the system directory: importing it
    // would slow every start, and a search by name could pick up a planted copy.
    win::UniqueModule wintrust(::LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!wintrust) return AuthenticodeVerdict::Invalid;
    auto verify = reinterpret_cast<WinVerifyTrustFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(wintrust.get(), "WinVerifyTrust")));
    if (verify == nullptr) return AuthenticodeVerdict::Invalid;

    std::u16string file_path(path);
    TrustFileInfo file{sizeof(TrustFileInfo), reinterpret_cast<const wchar_t*>(file_path.c_str()), nullptr, nullptr};
    TrustData data{};
    data.cbStruct = sizeof(TrustData);
    data.dwUIChoice = ui_none;
    data.fdwRevocationChecks = revoke_none;
    data.dwUnionChoice = choice_file;
    data.pFile = &file;
    data.dwStateAction = state_action_verify;
    data.dwProvFlags = 0;
    data.dwUIContext = ui_context_execute;

    LONG status = verify(nullptr, &generic_verify_v2, &data);
    // The provider's state is released whatever the verification said.
    data.dwStateAction = state_action_close;
    verify(nullptr, &generic_verify_v2, &data);
    return verdict_from_status(static_cast<std::uint32_t>(status));
}

}  // namespace tevra

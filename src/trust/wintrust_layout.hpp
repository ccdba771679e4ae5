// Win32: the trust provider's structures in their full current layout, the generic verification
// action, and the one call sequence that asks for a file's status. Some SDK headers stop before
// pSignatureSettings; the size field tells the provider which layout it gets.
#pragma once

#include <windows.h>

namespace tevra::wintrust {

struct FileInfo {
    DWORD cbStruct;
    const wchar_t* pcwszFilePath;
    HANDLE hFile;
    const GUID* pgKnownSubject;
};

struct Data {
    DWORD cbStruct;
    void* pPolicyCallbackData;
    void* pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    FileInfo* pFile;
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    wchar_t* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
    void* pSignatureSettings;
};

static_assert(sizeof(void*) != 8 || sizeof(FileInfo) == 32);
static_assert(sizeof(void*) != 8 || sizeof(Data) == 88);

inline constexpr DWORD ui_none = 2;
inline constexpr DWORD revoke_none = 0;
inline constexpr DWORD choice_file = 1;
inline constexpr DWORD state_action_verify = 1;
inline constexpr DWORD state_action_close = 2;
inline constexpr DWORD ui_context_execute = 0;

// WINTRUST_ACTION_GENERIC_VERIFY_V2
inline GUID generic_verify_v2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

using VerifyFunction = LONG(WINAPI*)(HWND, GUID*, void*);

// The provider's status for the file at `path` (NUL-terminated), under the generic policy with no
// UI, no revocation checks and no provider flags. The provider's state is released again whatever
// the verification said.
inline LONG verify_file(VerifyFunction verify, const wchar_t* path) {
    FileInfo file{sizeof(FileInfo), path, nullptr, nullptr};
    Data data{};
    data.cbStruct = sizeof(Data);
    data.dwUIChoice = ui_none;
    data.fdwRevocationChecks = revoke_none;
    data.dwUnionChoice = choice_file;
    data.pFile = &file;
    data.dwStateAction = state_action_verify;
    data.dwProvFlags = 0;
    data.dwUIContext = ui_context_execute;
    const LONG status = verify(nullptr, &generic_verify_v2, &data);
    data.dwStateAction = state_action_close;
    verify(nullptr, &generic_verify_v2, &data);
    return status;
}

}  // namespace tevra::wintrust

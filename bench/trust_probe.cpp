// The part of an apply that no updater can leave out: load the trust provider from the system
// directory (only there) and ask it for the verdict on the package, exactly as the updater does.
// Built like the floor program, so its cost minus the floor's is the cost of the check alone.
//
//   trust_probe.exe <package>     exits 0 when the provider gave a verdict (signed or unsigned),
//                                 else 1 (provider missing) or 2 (any other status)
//
// It writes the two parts it timed to standard output: "load=<ms> verify=<ms>".
#include <windows.h>

#include <cstdio>

namespace {

// The provider's structures in their full current layout, as the updater passes them.
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

// WINTRUST_ACTION_GENERIC_VERIFY_V2
GUID generic_verify_v2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

using WinVerifyTrustFunction = LONG(WINAPI*)(HWND, GUID*, void*);

constexpr LONG no_signature = static_cast<LONG>(0x800B0100);

double milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    LARGE_INTEGER start{};
    LARGE_INTEGER loaded{};
    LARGE_INTEGER verified{};
    ::QueryPerformanceCounter(&start);
    HMODULE wintrust = ::LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (wintrust == nullptr) return 1;
    auto verify = reinterpret_cast<WinVerifyTrustFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(wintrust, "WinVerifyTrust")));
    if (verify == nullptr) return 1;
    ::QueryPerformanceCounter(&loaded);

    TrustFileInfo file{sizeof(TrustFileInfo), argv[1], nullptr, nullptr};
    TrustData data{};
    data.cbStruct = sizeof(TrustData);
    data.dwUIChoice = 2;      // no UI
    data.fdwRevocationChecks = 0;
    data.dwUnionChoice = 1;   // a file
    data.pFile = &file;
    data.dwStateAction = 1;   // verify
    LONG status = verify(nullptr, &generic_verify_v2, &data);
    data.dwStateAction = 2;   // close
    verify(nullptr, &generic_verify_v2, &data);
    ::QueryPerformanceCounter(&verified);
    ::FreeLibrary(wintrust);
    std::printf("load=%.3f verify=%.3f\n", milliseconds(start, loaded), milliseconds(loaded, verified));
    return status == 0 || status == no_signature ? 0 : 2;
}

// The trust provider's status for a file, asked exactly as the updater asks it (the generic policy, no
// UI, no revocation checks), printed as eight hex digits: 00000000 for a valid signature, 800b0100
// (TRUST_E_NOSIGNATURE) for an unsigned file. Exits 0 when it printed a status, 1 without a provider.
//   trust_status.exe FILE
#include "trust/wintrust_layout.hpp"

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 1;
    HMODULE wintrust = ::LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (wintrust == nullptr) return 1;
    auto verify = reinterpret_cast<tevra::wintrust::VerifyFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(wintrust, "WinVerifyTrust")));
    if (verify == nullptr) return 1;
    std::printf("%08lx\n", static_cast<unsigned long>(tevra::wintrust::verify_file(verify, argv[1])));
    return 0;
}

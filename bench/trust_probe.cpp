// The part of an apply that no updater can leave out: load the trust provider from the system
// directory (only there) and ask it for the verdict on the package, exactly as the updater does.
// Built like the floor program, so its cost minus the floor's is the cost of the check alone.
//
//   trust_probe.exe <package>     exits 0 when the provider gave a verdict (signed or unsigned),
//                                 else 1 (provider missing) or 2 (any other status)
//
// It writes the two parts it timed to standard output: "load=<ms> verify=<ms>".
#include "trust/wintrust_layout.hpp"

#include <windows.h>

#include <cstdio>

namespace {

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
    auto verify = reinterpret_cast<tevra::wintrust::VerifyFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(wintrust, "WinVerifyTrust")));
    if (verify == nullptr) return 1;
    ::QueryPerformanceCounter(&loaded);

    LONG status = tevra::wintrust::verify_file(verify, argv[1]);
    ::QueryPerformanceCounter(&verified);
    ::FreeLibrary(wintrust);
    std::printf("load=%.3f verify=%.3f\n", milliseconds(start, loaded), milliseconds(loaded, verified));
    return status == 0 || status == no_signature ? 0 : 2;
}

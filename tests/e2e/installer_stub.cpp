// A stand-in for msiexec, placed beside a copy of the updater (which looks in its own folder first). It writes its
// raw command line (UTF-16, as GetCommandLineW gives it) to its standard output and the state file as it found it to
// its standard error, scribbles over the state file (the updater must save the record it loaded before), and exits
// with the code it is given, which closes what it opened.
//   TEVRA_STUB_STATE  the state file; unset (as in the process benchmark): it only exits
//   TEVRA_STUB_EXIT   the exit code in decimal, 0 to 4294967295; 0 when unset
//   TEVRA_STUB_PROBE  set: it also tries the package (its second argument) and reports on standard error its first
//                     four bytes, then the errors of an open for writing and of a rename ("0": it worked);
//                     "folder": it renames the package's folder instead, and reports that error
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void write(HANDLE file, const void* bytes, DWORD size) {
    DWORD written = 0;
    ::WriteFile(file, bytes, size, &written, nullptr);
}

std::string error_after(BOOL worked) { return std::to_string(worked ? 0 : ::GetLastError()); }

void probe(const wchar_t* package) {
    unsigned char head[4] = {};
    DWORD size = 0;
    constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE reader = ::CreateFileW(package, GENERIC_READ, share_all, nullptr, OPEN_EXISTING, 0, nullptr);
    ::ReadFile(reader, head, sizeof head, &size, nullptr);
    char hex[16] = {};
    std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", head[0], head[1], head[2], head[3]);
    // One call at a time: each error is read right after its call.
    const HANDLE writer = ::CreateFileW(package, GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string write_error = error_after(writer != INVALID_HANDLE_VALUE);
    const std::string rename_error = error_after(::MoveFileExW(package, L"moved.msi", 0));
    const std::string report =
        std::string("package ") + hex + ", write " + write_error + ", rename " + rename_error + "\n";
    write(::GetStdHandle(STD_ERROR_HANDLE), report.data(), DWORD(report.size()));
}

void rename_folder(const wchar_t* package) {
    std::wstring folder(package);
    folder.resize(folder.find_last_of(L'\\'));
    const std::string report =
        "folder rename " + error_after(::MoveFileExW(folder.c_str(), (folder + L"-moved").c_str(), 0)) + "\n";
    write(::GetStdHandle(STD_ERROR_HANDLE), report.data(), DWORD(report.size()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    static wchar_t state[32768], code[16], mode[16];
    static char found[65536];
    ::GetEnvironmentVariableW(L"TEVRA_STUB_EXIT", code, 16);
    if (::GetEnvironmentVariableW(L"TEVRA_STUB_STATE", state, 32768)) {
        const wchar_t* line = ::GetCommandLineW();
        write(::GetStdHandle(STD_OUTPUT_HANDLE), line, DWORD(std::wcslen(line) * sizeof(wchar_t)));
        DWORD size = 0;
        const HANDLE file = ::CreateFileW(state, GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ::ReadFile(file, found, sizeof found, &size, nullptr);
        write(::GetStdHandle(STD_ERROR_HANDLE), found, size);
        if (argc > 2 && ::GetEnvironmentVariableW(L"TEVRA_STUB_PROBE", mode, 16))
            std::wcscmp(mode, L"folder") == 0 ? rename_folder(argv[2]) : probe(argv[2]);
        write(::CreateFileW(state, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr), "scribbled", 9);
    }
    ::ExitProcess(UINT(std::wcstoul(code, nullptr, 10)));
}

// A stand-in for msiexec, placed beside a copy of the updater (which looks in its own folder first). It writes its
// raw command line (UTF-16, as GetCommandLineW gives it) to its standard output and the state file as it found it to
// its standard error, scribbles over the state file (the updater must save the record it loaded before), and exits
// with the code it is given, which closes what it opened.
//   TEVRA_STUB_STATE  the state file; unset (as in the process benchmark): it only exits
//   TEVRA_STUB_EXIT   the exit code in decimal, 0 to 4294967295; 0 when unset
#include <windows.h>

#include <cwchar>

namespace {

void write(HANDLE file, const void* bytes, DWORD size) {
    DWORD written = 0;
    ::WriteFile(file, bytes, size, &written, nullptr);
}

}  // namespace

int wmain() {
    static wchar_t state[32768], code[16];
    static char found[65536];
    ::GetEnvironmentVariableW(L"TEVRA_STUB_EXIT", code, 16);
    if (::GetEnvironmentVariableW(L"TEVRA_STUB_STATE", state, 32768)) {
        const wchar_t* line = ::GetCommandLineW();
        write(::GetStdHandle(STD_OUTPUT_HANDLE), line, DWORD(std::wcslen(line) * sizeof(wchar_t)));
        DWORD size = 0;
        const HANDLE file = ::CreateFileW(state, GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ::ReadFile(file, found, sizeof found, &size, nullptr);
        write(::GetStdHandle(STD_ERROR_HANDLE), found, size);
        write(::CreateFileW(state, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr), "scribbled", 9);
    }
    ::ExitProcess(UINT(std::wcstoul(code, nullptr, 10)));
}

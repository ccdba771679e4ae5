// A stand-in for msiexec, placed beside a copy of the updater (which looks in its own folder first). It writes down
// its raw command line and the state file as it found it, says a line on its standard output and error, scribbles
// over the state file (the updater must save the record it loaded before), and exits with the code it is given.
//   TEVRA_STUB_DIR    where installer-command-line (UTF-16, as GetCommandLineW gives it) and installer-saw-state go
//   TEVRA_STUB_STATE  the state file
//   TEVRA_STUB_EXIT   the exit code in decimal, 0 to 4294967295
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring variable(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return std::wstring(value, length < 32768 ? length : 0);
}

bool write(HANDLE file, const void* bytes, std::size_t size) {
    DWORD written = 0;
    return ::WriteFile(file, bytes, DWORD(size), &written, nullptr) && written == size;
}

bool write_file(const std::wstring& path, const void* bytes, std::size_t size, DWORD disposition) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
    const bool whole = file != INVALID_HANDLE_VALUE && write(file, bytes, size);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return whole;
}

}  // namespace

int wmain() {
    const std::wstring dir = variable(L"TEVRA_STUB_DIR"), state = variable(L"TEVRA_STUB_STATE");
    if (!dir.empty()) {  // without it (as in the process benchmark) it only exits
        ::CopyFileW(state.c_str(), (dir + L"\\installer-saw-state").c_str(), TRUE);
        const wchar_t* line = ::GetCommandLineW();
        // A second start finds the record there and fails.
        if (!write_file(dir + L"\\installer-command-line", line, std::wcslen(line) * sizeof(wchar_t), CREATE_NEW))
            ::ExitProcess(0xB0BB);
        write(::GetStdHandle(STD_ERROR_HANDLE), "stand-in on stderr\n", 19);
        write(::GetStdHandle(STD_OUTPUT_HANDLE), "stand-in on stdout\n", 19);
        write_file(state, "written by the installer", 24, CREATE_ALWAYS);
    }
    ::ExitProcess(UINT(std::wcstoul(variable(L"TEVRA_STUB_EXIT").c_str(), nullptr, 10)));
}

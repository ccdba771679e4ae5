// A stand-in for a child program such as the Windows installer. It writes down how it was started
// and ends with a chosen exit code; it never looks at its arguments.
//
//   TEVRA_STUB_RECORD     file to append a record of this start to (format in stub_record.hpp)
//   TEVRA_STUB_ECHO       when set: copy standard input to standard output until its end, then
//                         write the variable's value to standard error
//   TEVRA_STUB_EXIT_CODE  exit code in decimal, 0 to 4294967295 (default 0)
//   TEVRA_STUB_SNAPSHOT   a file whose bytes at the moment of the start go into the record
#include "common/utf.hpp"

#include <windows.h>
#include <shellapi.h>

#include <charconv>
#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Something went wrong in the stub itself, not in what it stands in for.
constexpr UINT stub_broken = 0xB0BB;

std::optional<std::u16string> variable(const wchar_t* name) {
    wchar_t buffer[32768];
    ::SetLastError(ERROR_SUCCESS);
    DWORD length = ::GetEnvironmentVariableW(name, buffer, 32768);
    if (length == 0 && ::GetLastError() != ERROR_SUCCESS) return std::nullopt;
    if (length >= 32768) return std::nullopt;
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), length);
}

std::string utf8(const wchar_t* text, std::size_t length) {
    return tevra::utf16_to_utf8_lossy(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}
std::string utf8(const wchar_t* text) { return utf8(text, wcslen(text)); }

void add_entry(std::string& record, std::string_view key, std::string_view value) {
    record += key;
    record += ' ';
    record += std::to_string(value.size());
    record += ':';
    record += value;
    record += '\n';
}

bool write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

std::optional<std::string> file_bytes(const std::u16string& path) {
    HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0) bytes.append(buffer, read);
    ::CloseHandle(file);
    return bytes;
}

bool append_record(const std::u16string& path) {
    wchar_t program[32768];
    DWORD program_length = ::GetModuleFileNameW(nullptr, program, 32768);
    wchar_t cwd[32768];
    DWORD cwd_length = ::GetCurrentDirectoryW(32768, cwd);
    const wchar_t* command_line = ::GetCommandLineW();
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(command_line, &count);
    if (program_length == 0 || cwd_length == 0 || args == nullptr) return false;

    std::string record = "start\n";
    add_entry(record, "program", utf8(program, program_length));
    add_entry(record, "cwd", utf8(cwd, cwd_length));
    add_entry(record, "command_line", utf8(command_line));
    if (std::optional<std::u16string> snapshot = variable(L"TEVRA_STUB_SNAPSHOT")) {
        if (std::optional<std::string> bytes = file_bytes(*snapshot)) add_entry(record, "snapshot", *bytes);
    }
    for (int i = 0; i < count; ++i) add_entry(record, "arg", utf8(args[i]));
    record += "end\n";
    ::LocalFree(args);

    HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = write_all(file, record);
    ::CloseHandle(file);
    return written;
}

bool echo(std::string_view message) {
    char buffer[4096];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) || read == 0) break;
        if (!write_all(::GetStdHandle(STD_OUTPUT_HANDLE), std::string_view(buffer, read))) return false;
    }
    return write_all(::GetStdHandle(STD_ERROR_HANDLE), message);
}

std::optional<UINT> exit_code() {
    std::optional<std::u16string> text = variable(L"TEVRA_STUB_EXIT_CODE");
    if (!text) return 0;
    std::string digits = tevra::utf16_to_utf8_lossy(*text);
    std::uint32_t code = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
    return code;
}

}  // namespace

int wmain(int /*argc*/, wchar_t** /*argv*/) {
    // The record comes first: it is the proof that a start happened.
    if (std::optional<std::u16string> record = variable(L"TEVRA_STUB_RECORD")) {
        if (!append_record(*record)) ::ExitProcess(stub_broken);
    }
    if (std::optional<std::u16string> message = variable(L"TEVRA_STUB_ECHO")) {
        if (!echo(tevra::utf16_to_utf8_lossy(*message))) ::ExitProcess(stub_broken);
    }
    std::optional<UINT> code = exit_code();
    ::ExitProcess(code ? *code : stub_broken);
}

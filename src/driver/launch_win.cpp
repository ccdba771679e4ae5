#include "driver/launch.hpp"

#include "common/grow_buffer.hpp"
#include "common/paths.hpp"
#include "win/file.hpp"
#include "win/system.hpp"
#include "win/unique_handle.hpp"

#include <windows.h>

#include <optional>

namespace tevra {
namespace {

using DirectoryQuery = UINT(WINAPI*)(LPWSTR, UINT);

// GetSystemDirectoryW and GetWindowsDirectoryW share one calling pattern.
std::optional<std::u16string> query_directory(DirectoryQuery query) {
    return read_growing(
        [query](char16_t* buffer, std::size_t capacity) {
            return nonzero(query(win::wide(buffer), static_cast<UINT>(capacity)));
        },
        MAX_PATH);
}

// The first candidate that exists (a directory counts too), as the system is handed it.
std::optional<std::u16string> locate(std::u16string_view program) {
    const std::u16string file_name = std::u16string(program) + u".exe";
    const std::optional<std::u16string> own_file = win::program_file_path();
    const std::vector<std::u16string> dirs =
        search_directories(own_file ? directory_of(*own_file) : std::nullopt, query_directory(::GetSystemDirectoryW),
                           query_directory(::GetWindowsDirectoryW), win::environment_variable(u"PATH"));
    for (const std::u16string& dir : dirs) {
        const std::u16string candidate = join_path(dir, file_name);
        if (win::exists(candidate)) return win::system_path(candidate);
    }
    return std::nullopt;
}

// An inheritable copy of one of the running program's standard handles; none when it has none.
win::UniqueKernelHandle inheritable_standard_handle(DWORD which) {
    HANDLE own = ::GetStdHandle(which);
    if (own == nullptr || own == INVALID_HANDLE_VALUE) return {};
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return {};
    return win::UniqueKernelHandle(copy);
}

struct Child {
    win::UniqueKernelHandle process;
    win::UniqueKernelHandle thread;
};

std::expected<Child, std::string> start(const std::u16string& application, std::u16string command_line) {
    win::UniqueKernelHandle input = inheritable_standard_handle(STD_INPUT_HANDLE);
    win::UniqueKernelHandle output = inheritable_standard_handle(STD_OUTPUT_HANDLE);
    win::UniqueKernelHandle error = inheritable_standard_handle(STD_ERROR_HANDLE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = error.get();

    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessW(win::wide(application), win::wide(command_line), nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &info);
    if (!started) return win::system_failure(::GetLastError());
    // The duplicates close as this returns; the child holds its own copies.
    return Child{win::UniqueKernelHandle(info.hProcess), win::UniqueKernelHandle(info.hThread)};
}

std::expected<std::int32_t, std::string> wait(const Child& child) {
    if (::WaitForSingleObject(child.process.get(), INFINITE) == WAIT_FAILED)
        return win::system_failure(::GetLastError());
    DWORD code = 0;
    if (!::GetExitCodeProcess(child.process.get(), &code)) return win::system_failure(::GetLastError());
    return static_cast<std::int32_t>(code);
}

}  // namespace

std::expected<std::int32_t, std::string> run_and_wait(std::u16string_view program,
                                                      const std::vector<std::u16string>& args) {
    // Checked before the search: a NUL would cut the name short for the file system.
    std::expected<std::u16string, std::string> command_line = build_command_line(program, args);
    if (!command_line) return std::unexpected(std::move(command_line.error()));
    std::optional<std::u16string> application = locate(program);
    if (!application) return std::unexpected(std::string("program not found"));
    std::expected<Child, std::string> child = start(*application, std::move(*command_line));
    if (!child) return std::unexpected(std::move(child.error()));
    return wait(*child);
}

}  // namespace tevra

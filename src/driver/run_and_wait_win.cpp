#include "driver/run_and_wait.hpp"

#include "common/paths.hpp"
#include "common/utf.hpp"
#include "driver/launch.hpp"
#include "win/environment.hpp"
#include "win/system_error.hpp"
#include "win/system_path.hpp"
#include "win/unique_handle.hpp"

#include <windows.h>

#include <optional>

namespace tevra {
namespace {

std::unexpected<std::string> last_error_failure() {
    return std::unexpected(win::system_error_text(::GetLastError()));
}

// The directory of the running program's own file, ending in its separator.
std::optional<std::u16string> own_directory() {
    std::optional<std::u16string> file = win::program_file_path();
    if (!file) return std::nullopt;
    std::size_t separator = file->find_last_of(u"\\/");
    if (separator == std::u16string::npos) return std::nullopt;
    file->resize(separator + 1);
    return file;
}

using DirectoryQuery = UINT(WINAPI*)(LPWSTR, UINT);

// GetSystemDirectoryW and GetWindowsDirectoryW share one calling pattern.
std::optional<std::u16string> query_directory(DirectoryQuery query) {
    std::u16string dir(MAX_PATH, u'\0');
    for (;;) {
        UINT length = query(win::wide(dir), static_cast<UINT>(dir.size()));
        if (length == 0) return std::nullopt;
        if (length < dir.size()) {
            dir.resize(length);
            return dir;
        }
        dir.resize(length);
    }
}

// In search order. An unknown directory is left out: an empty one would mean the current directory.
std::vector<std::u16string> search_directories() {
    std::vector<std::u16string> dirs;
    for (auto dir : {own_directory(), query_directory(::GetSystemDirectoryW), query_directory(::GetWindowsDirectoryW)}) {
        if (dir && !dir->empty()) dirs.push_back(std::move(*dir));
    }
    if (std::optional<std::u16string> path = win::environment_variable(u"PATH")) {
        for (std::u16string& dir : split_search_path(*path)) dirs.push_back(std::move(dir));
    }
    return dirs;
}

// The first candidate that exists (a directory counts too), as the system is handed it.
std::optional<std::u16string> locate(std::u16string_view program) {
    const std::u16string file_name = std::u16string(program) + u".exe";
    for (const std::u16string& dir : search_directories()) {
        std::u16string candidate = win::system_path(join_path(dir, file_name));
        if (::GetFileAttributesW(win::wide(candidate)) != INVALID_FILE_ATTRIBUTES) return candidate;
    }
    return std::nullopt;
}

// An inheritable copy of one of the running program's standard handles; null when it has none.
win::UniqueKernelHandle inheritable_standard_handle(DWORD which) {
    HANDLE own = ::GetStdHandle(which);
    if (own == nullptr || own == INVALID_HANDLE_VALUE) return {};
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return {};
    }
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
    BOOL started = ::CreateProcessW(win::wide(application), win::wide(command_line), nullptr, nullptr, TRUE,
                                    CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &info);
    if (!started) return last_error_failure();
    // The duplicates close as this returns; the child holds its own copies.
    return Child{win::UniqueKernelHandle(info.hProcess), win::UniqueKernelHandle(info.hThread)};
}

std::expected<std::int32_t, std::string> wait(const Child& child) {
    if (::WaitForSingleObject(child.process.get(), INFINITE) == WAIT_FAILED) return last_error_failure();
    DWORD code = 0;
    if (!::GetExitCodeProcess(child.process.get(), &code)) return last_error_failure();
    return static_cast<std::int32_t>(code);
}

}  // namespace

std::expected<std::int32_t, std::string> run_and_wait(std::string_view program, const std::vector<std::string>& args) {
    const std::u16string name = utf8_to_utf16(program);
    std::vector<std::u16string> wide_args;
    wide_args.reserve(args.size());
    for (const std::string& arg : args) wide_args.push_back(utf8_to_utf16(arg));

    // Checked before the search: a NUL would cut the name short for the file system.
    std::expected<std::u16string, std::string> command_line = build_command_line(name, wide_args);
    if (!command_line) return std::unexpected(std::move(command_line.error()));
    std::optional<std::u16string> application = locate(name);
    if (!application) return std::unexpected(std::string("program not found"));
    std::expected<Child, std::string> child = start(*application, std::move(*command_line));
    if (!child) return std::unexpected(std::move(child.error()));
    return wait(*child);
}

}  // namespace tevra

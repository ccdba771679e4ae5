#include "state/state_store.hpp"

#include "common/paths.hpp"
#include "state/state_codec.hpp"
#include "win/system.hpp"
#include "win/unique_handle.hpp"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <ranges>
#include <vector>

namespace tevra {
namespace {

using win::system_failure;
using win::system_path;
using win::wide;

// Not declared by every SDK's headers; the value is fixed by the system's ABI.
constexpr auto file_rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

bool is_directory(const std::u16string& path) {
    DWORD attributes = ::GetFileAttributesW(wide(system_path(path)));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Creates `path` and its missing ancestors. An existing directory is fine; anything else in the
// way is the system's error (183 for a file).
std::expected<void, std::string> create_directory_tree(const std::u16string& path) {
    std::vector<std::u16string> missing;
    std::u16string current = path;
    for (;;) {
        if (current.empty()) break;
        if (::CreateDirectoryW(wide(system_path(current)), nullptr)) break;
        DWORD error = ::GetLastError();
        if (error == ERROR_PATH_NOT_FOUND) {
            std::u16string parent = parent_of(current);
            if (parent == current) return system_failure(error);
            missing.push_back(std::move(current));
            current = std::move(parent);
            continue;
        }
        if (is_directory(current)) break;
        return system_failure(error);
    }
    for (const std::u16string& dir : std::views::reverse(missing)) {
        if (!::CreateDirectoryW(wide(system_path(dir)), nullptr)) {
            DWORD error = ::GetLastError();
            if (!is_directory(dir)) return system_failure(error);
        }
    }
    return {};
}

std::expected<void, std::string> truncate_file(HANDLE file) {
    FILE_ALLOCATION_INFO allocation{};
    if (::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) return {};
    FILE_END_OF_FILE_INFO end_of_file{};
    if (::SetFileInformationByHandle(file, FileEndOfFileInfo, &end_of_file, sizeof end_of_file)) return {};
    return system_failure(::GetLastError());
}

// Writes the temporary file completely and durably. Read-only sharing keeps a second save from
// writing into the same file at the same time: it fails instead, and the state file stays whole.
std::expected<void, std::string> write_temporary_file(const std::u16string& path, std::string_view bytes) {
    win::UniqueKernelHandle file(
        ::CreateFileW(wide(system_path(path)), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (!file) return system_failure(::GetLastError());
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        if (auto truncated = truncate_file(file.get()); !truncated) return truncated;
    }
    if (auto written = win::write_all(file.get(), bytes); !written) return written;
    // Without the flush a power loss could leave an empty or partial state file after the rename.
    if (!::FlushFileBuffers(file.get())) return system_failure(::GetLastError());
    return {};
}

std::expected<void, std::string> rename_by_handle(const std::u16string& source, const std::u16string& target) {
    constexpr DWORD access_denied = ERROR_ACCESS_DENIED;
    win::UniqueKernelHandle file(
        ::CreateFileW(wide(system_path(source)), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // The fallback could not even start: the rename's own denial is the answer.
    if (!file) return system_failure(access_denied);

    std::u16string target_path = system_path(target);
    std::size_t name_bytes = target_path.size() * sizeof(char16_t);
    if (name_bytes > 0xFFFFFFFFu) return system_failure(access_denied);
    std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(char16_t);
    std::unique_ptr<std::byte[]> buffer(new (std::nothrow) std::byte[size]());
    if (!buffer) return std::unexpected(std::string("out of memory"));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(info->FileName, target_path.c_str(), name_bytes + sizeof(char16_t));

    if (::SetFileInformationByHandle(file.get(), file_rename_info_ex, info, static_cast<DWORD>(size))) return {};
    DWORD error = ::GetLastError();
    // The caller asked for a rename, and access to it was denied: whatever the fallback met on the
    // way is reported as that denial, except a directory in the way, which the caller can act on.
    return system_failure(error == ERROR_DIR_NOT_EMPTY ? error : access_denied);
}

// The whole file, or nothing on any failure (missing, unreadable, out of memory).
std::optional<std::string> read_state_file(const std::u16string& path) {
    win::UniqueKernelHandle file(::CreateFileW(wide(system_path(path)), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    if (!file) return std::nullopt;
    try {
        std::string bytes;
        LARGE_INTEGER size{};
        if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0)
            bytes.reserve(static_cast<std::size_t>(size.QuadPart));
        char chunk[16384];
        for (;;) {
            DWORD read = 0;
            if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) return std::nullopt;
            if (read == 0) return bytes;
            bytes.append(chunk, read);
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// Stamped with the current system time.
UpdateStateFile default_state() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return default_state_at(unix_time_from_filetime(ticks));
}

}  // namespace

ProductLayout current_product_layout() {
    return product_layout(win::environment_variable(u"LOCALAPPDATA"), win::environment_variable(u"USERPROFILE"));
}

UpdateStateFile load_state(const ProductLayout& layout) {
    if (auto bytes = read_state_file(layout.state_file)) {
        if (auto state = state_from_json(*bytes)) return std::move(*state);
    }
    return default_state();
}

std::expected<void, std::string> save_state(const ProductLayout& layout, const UpdateStateFile& state) {
    for (const std::u16string* dir : {&layout.updates_dir, &layout.recovery_dir, &layout.crash_reports_dir})
        if (auto created = create_directory_tree(*dir); !created) return created;

    auto text = state_to_json(state);
    if (!text) return std::unexpected(std::move(text.error()));

    if (auto written = write_temporary_file(layout.temporary_file, *text); !written) return written;

    if (::MoveFileExW(wide(system_path(layout.temporary_file)), wide(system_path(layout.state_file)),
                      MOVEFILE_REPLACE_EXISTING))
        return {};
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED) return rename_by_handle(layout.temporary_file, layout.state_file);
    return system_failure(error);
}

}  // namespace tevra

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

// Made afresh by every save. Whatever stands at the path (a stale file, or a link to a file elsewhere) is
// removed first (a link itself, never its target), and CREATE_NEW never opens through a link that appears
// meanwhile: it fails instead. Reading is shared; writing and deleting are not, so nobody changes the file
// between the write and the rename.
std::expected<win::UniqueKernelHandle, std::string> create_temporary_file(const std::u16string& path) {
    const std::u16string system = system_path(path);
    // A failure here shows in the creation.
    ::DeleteFileW(wide(system));
    win::UniqueKernelHandle file(
        ::CreateFileW(wide(system), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr));
    if (!file) return system_failure(::GetLastError());
    return file;
}

// Renames the open file onto `target`, replacing it.
std::expected<void, std::string> rename_onto(HANDLE file, const std::u16string& target) {
    constexpr DWORD access_denied = ERROR_ACCESS_DENIED;
    const std::u16string target_path = system_path(target);
    const std::size_t name_bytes = target_path.size() * sizeof(char16_t);
    if (name_bytes > 0xFFFFFFFFu) return system_failure(access_denied);
    const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(char16_t);
    std::unique_ptr<std::byte[]> buffer(new (std::nothrow) std::byte[size]());
    if (!buffer) return std::unexpected(std::string("out of memory"));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    // The plain rename reads the first byte of Flags as its ReplaceIfExists.
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(info->FileName, target_path.c_str(), name_bytes + sizeof(char16_t));
    const auto rename = [&](FILE_INFO_BY_HANDLE_CLASS kind) {
        return ::SetFileInformationByHandle(file, kind, info, static_cast<DWORD>(size));
    };

    if (rename(FileRenameInfo)) return {};
    const DWORD error = ::GetLastError();
    // Access denied is how the system refuses to replace a file that a reader holds with delete sharing;
    // the POSIX-semantics rename replaces it all the same.
    if (error != access_denied) return system_failure(error);
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    if (rename(file_rename_info_ex)) return {};
    const DWORD fallback_error = ::GetLastError();
    // The caller asked for a rename, and access to it was denied: whatever the fallback met on the
    // way is reported as that denial, except a directory in the way, which the caller can act on.
    return system_failure(fallback_error == ERROR_DIR_NOT_EMPTY ? fallback_error : access_denied);
}

// The whole file, or the error that stopped the reading.
std::expected<std::string, DWORD> read_whole_file(const std::u16string& path) {
    win::UniqueKernelHandle file(::CreateFileW(wide(system_path(path)), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    if (!file) return std::unexpected(::GetLastError());
    try {
        std::string bytes;
        LARGE_INTEGER size{};
        if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0)
            bytes.reserve(static_cast<std::size_t>(size.QuadPart));
        char chunk[16384];
        for (;;) {
            DWORD read = 0;
            if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) return std::unexpected(::GetLastError());
            if (read == 0) return bytes;
            bytes.append(chunk, read);
        }
    } catch (const std::bad_alloc&) {
        return std::unexpected(DWORD{ERROR_NOT_ENOUGH_MEMORY});
    }
}

// The whole file, or nothing on any failure (missing, unreadable, out of memory). A file that another
// process has open without read sharing or has locked (the product's own writer, say) is waited for,
// about a second; held longer, it counts as unreadable.
std::optional<std::string> read_state_file(const std::u16string& path) {
    constexpr int busy_retries = 20;
    constexpr DWORD busy_pause_ms = 50;
    for (int retry = 0;; ++retry) {
        std::expected<std::string, DWORD> bytes = read_whole_file(path);
        if (bytes) return std::move(*bytes);
        const bool busy = bytes.error() == ERROR_SHARING_VIOLATION || bytes.error() == ERROR_LOCK_VIOLATION;
        if (!busy || retry == busy_retries) return std::nullopt;
        ::Sleep(busy_pause_ms);
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

    // Written as the caller holds it. updated_unix is never stamped here: it is the product's own record of
    // when it staged an update, carried through every save.
    auto text = state_to_json(state);
    if (!text) return std::unexpected(std::move(text.error()));

    std::expected<win::UniqueKernelHandle, std::string> file = create_temporary_file(layout.temporary_file);
    if (!file) return std::unexpected(std::move(file.error()));
    if (auto written = win::write_all(file->get(), *text); !written) return written;
    // Without the flush a power loss could leave an empty or partial state file after the rename.
    if (!::FlushFileBuffers(file->get())) return system_failure(::GetLastError());
    // Through the handle that wrote it, closed only afterwards: nobody can open it for writing in between.
    return rename_onto(file->get(), layout.state_file);
}

}  // namespace tevra

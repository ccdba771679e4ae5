#include "win/file.hpp"

#include "common/grow_buffer.hpp"
#include "common/paths.hpp"
#include "common/utf.hpp"
#include "win/system.hpp"

#include <cstddef>
#include <cstring>
#include <memory>
#include <ranges>
#include <vector>

namespace tevra::win {
namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Not declared by every SDK's headers; the value is fixed by the system's ABI.
constexpr auto file_rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

UniqueKernelHandle open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return UniqueKernelHandle(
        ::CreateFileW(wide(system_path(path)), access, share, nullptr, disposition, flags, nullptr));
}

// One pause of a wait for another process to let go of a file: 20 pauses of 50 ms, about a second in all.
constexpr int pauses_per_wait = 20;
bool pause_for_turn(int& pauses_left) {
    if (pauses_left == 0) return false;
    --pauses_left;
    ::Sleep(50);
    return true;
}

bool is_directory(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(wide(system_path(path)));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::expected<std::u16string, DWORD> final_path_or_code(HANDLE file) {
    std::optional<std::u16string> path = read_growing(
        [file](char16_t* buffer, std::size_t capacity) {
            return nonzero(::GetFinalPathNameByHandleW(file, wide(buffer), static_cast<DWORD>(capacity), 0));
        },
        512);
    if (!path) return std::unexpected(::GetLastError());
    return std::move(*path);
}

// File names compare without regard to letter case.
bool same_path(std::u16string_view a, std::u16string_view b) {
    return ::CompareStringOrdinal(wide(a.data()), static_cast<int>(a.size()), wide(b.data()),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The whole file, or the error that stopped the reading (ERROR_FILE_TOO_LARGE past the bound).
std::expected<std::string, DWORD> read_whole_file(const std::u16string& path, std::uint64_t max_bytes) {
    const UniqueKernelHandle file = open(path, GENERIC_READ, share_all, OPEN_EXISTING, 0);
    if (!file) return std::unexpected(::GetLastError());
    constexpr DWORD too_large = ERROR_FILE_TOO_LARGE;
    std::string bytes;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size)) {
        if (static_cast<std::uint64_t>(size.QuadPart) > max_bytes) return std::unexpected(too_large);
        bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char chunk[16384];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) return std::unexpected(::GetLastError());
        if (read == 0) return bytes;
        // The file may have grown since its size was asked.
        if (bytes.size() + read > max_bytes) return std::unexpected(too_large);
        bytes.append(chunk, read);
    }
}

std::expected<void, DWORD> rename_by_handle(HANDLE file, const std::u16string& target, DWORD flags,
                                            FILE_INFO_BY_HANDLE_CLASS kind) {
    // A path is at most 32,767 units: its size in bytes always fits the structure's field.
    const std::u16string target_path = system_path(target);
    const std::size_t name_bytes = target_path.size() * sizeof(char16_t);
    const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(char16_t);
    const auto buffer = std::make_unique<std::byte[]>(size);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    // The plain rename reads the first byte of Flags as its ReplaceIfExists.
    info->Flags = flags;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(info->FileName, target_path.c_str(), name_bytes + sizeof(char16_t));
    if (::SetFileInformationByHandle(file, kind, info, static_cast<DWORD>(size))) return {};
    return std::unexpected(::GetLastError());
}

// Renames the open file onto `target`, replacing it.
std::expected<void, DWORD> rename_onto(HANDLE file, const std::u16string& target) {
    constexpr DWORD access_denied = ERROR_ACCESS_DENIED;
    std::expected<void, DWORD> renamed =
        rename_by_handle(file, target, FILE_RENAME_FLAG_REPLACE_IF_EXISTS, FileRenameInfo);
    if (renamed || renamed.error() != access_denied) return renamed;
    // Access denied is how the system refuses to replace a file that a reader holds with delete sharing; the
    // POSIX-semantics rename replaces it all the same.
    renamed = rename_by_handle(file, target, FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS,
                               file_rename_info_ex);
    // A directory in the way stays so, and waiting can't help; whatever else stopped the fallback (a system without
    // it, a reader without delete sharing) stays the denial, which is waited out.
    if (renamed || renamed.error() == ERROR_DIR_NOT_EMPTY) return renamed;
    return std::unexpected(access_denied);
}

// Frees `path` of whatever stands there. Others may hold it open with delete sharing (a scanner reading a stale
// file), so that a deletion would keep the name taken until they let go: it is renamed through its own handle to a
// name of its own beside it first, and deleted there once the last holder lets go. Only that name goes: an object
// whose final path is not `path` itself (a link that the system followed) is left alone, and the save fails.
std::expected<void, DWORD> free_name(const std::u16string& path, const std::u16string& final) {
    const UniqueKernelHandle stale = open(path, DELETE, share_all, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!stale) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return {};
        return std::unexpected(error);
    }
    const std::expected<std::u16string, DWORD> actual = final_path_or_code(stale.get());
    if (!actual) return std::unexpected(actual.error());
    if (!same_path(*actual, final)) return std::unexpected(DWORD{ERROR_CANT_RESOLVE_FILENAME});
    static unsigned aside_count = 0;
    const std::u16string aside = path + utf8_to_utf16("." + std::to_string(::GetCurrentProcessId()) + "-" +
                                                      std::to_string(++aside_count) + ".stale");
    if (auto renamed = rename_by_handle(stale.get(), aside, 0, FileRenameInfo); !renamed) return renamed;
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!::SetFileInformationByHandle(stale.get(), FileDispositionInfo, &disposition, sizeof disposition))
        return std::unexpected(::GetLastError());
    return {};
}

// Made afresh: CREATE_NEW never opens through a link that appears after the name was freed, it fails instead.
// Reading is shared; writing and deleting are not, so nobody changes the file between the write and the rename.
std::expected<UniqueKernelHandle, DWORD> create_fresh(const std::u16string& path, const std::u16string& final) {
    if (auto freed = free_name(path, final); !freed) return std::unexpected(freed.error());
    UniqueKernelHandle file = open(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW, 0);
    if (!file) return std::unexpected(::GetLastError());
    return file;
}

// Another process holds what a save needs: another save's temporary file, a name it recreated meanwhile, a reader
// of the target without delete sharing, a file still being deleted.
bool is_busy(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace

std::expected<void, std::string> create_directory_tree(const std::u16string& path) {
    std::vector<std::u16string> missing;
    std::u16string current = path;
    for (;;) {
        if (current.empty()) break;
        if (::CreateDirectoryW(wide(system_path(current)), nullptr)) break;
        const DWORD error = ::GetLastError();
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
            const DWORD error = ::GetLastError();
            if (!is_directory(dir)) return system_failure(error);
        }
    }
    return {};
}

bool exists(const std::u16string& path) {
    return ::GetFileAttributesW(wide(system_path(path))) != INVALID_FILE_ATTRIBUTES;
}

std::expected<std::u16string, std::string> final_path(HANDLE file) {
    std::expected<std::u16string, DWORD> path = final_path_or_code(file);
    if (!path) return system_failure(path.error());
    return std::move(*path);
}

std::expected<std::u16string, std::string> canonical_path(const std::u16string& path) {
    // No access asked for, everything shared: nobody else's open is disturbed.
    const UniqueKernelHandle file = open(path, 0, share_all, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (!file) return system_failure(::GetLastError());
    return final_path(file.get());
}

std::expected<UniqueKernelHandle, std::uint32_t> open_to_hold(const std::u16string& path) {
    UniqueKernelHandle file = open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    if (!file) return std::unexpected(::GetLastError());
    return file;
}

std::expected<void, std::string> lock_contents_shared(HANDLE file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) return system_failure(::GetLastError());
    if (size.QuadPart == 0) return {};
    // The data only: the structured-storage library that reads packages locks ranges of its own far past it.
    const auto length = static_cast<std::uint64_t>(size.QuadPart);
    OVERLAPPED from_start{};
    if (!::LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32),
                      &from_start))
        return system_failure(::GetLastError());
    return {};
}

bool directory_entry_is_file(const std::u16string& path) {
    WIN32_FIND_DATAW entry{};
    const UniqueFind find(
        ::FindFirstFileExW(wide(system_path(path)), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!find) return false;
    const bool is_link =
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(entry.dwReserved0);
    return !is_link && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::string> read_file(const std::u16string& path, std::uint64_t max_bytes) {
    int pauses_left = pauses_per_wait;
    for (;;) {
        std::expected<std::string, DWORD> bytes = read_whole_file(path, max_bytes);
        if (bytes) return std::move(*bytes);
        const bool busy = bytes.error() == ERROR_SHARING_VIOLATION || bytes.error() == ERROR_LOCK_VIOLATION;
        if (!busy || !pause_for_turn(pauses_left)) return std::nullopt;
    }
}

std::expected<void, std::string> replace_file(const std::u16string& target, const std::u16string& temporary,
                                              std::string_view bytes) {
    // What the temporary file's final path must be: its directory's, and its own name.
    const std::u16string directory = parent_of(temporary);
    const std::expected<std::u16string, std::string> final_directory = canonical_path(directory);
    if (!final_directory) return std::unexpected(final_directory.error());
    const std::u16string name = temporary.substr(directory_of(temporary).value_or(u"").size());
    const std::u16string final_temporary = join_path(*final_directory, name);

    // One wait for the whole save: it ends within about a second, whoever holds what.
    int pauses_left = pauses_per_wait;
    UniqueKernelHandle file;
    for (;;) {
        std::expected<UniqueKernelHandle, DWORD> created = create_fresh(temporary, final_temporary);
        if (created) {
            file = std::move(*created);
            break;
        }
        if (!is_busy(created.error()) || !pause_for_turn(pauses_left)) return system_failure(created.error());
    }
    // A failure from here on leaves the temporary file behind: removing it could fail as well, and the next save
    // frees the name whatever stands there.
    if (auto written = write_all(file.get(), bytes); !written) return written;
    // Without the flush a power loss could leave an empty or partial file after the rename.
    if (!::FlushFileBuffers(file.get())) return system_failure(::GetLastError());
    // Through the handle that wrote it, closed only afterwards: nobody can open it for writing in between.
    for (;;) {
        const std::expected<void, DWORD> renamed = rename_onto(file.get(), target);
        if (renamed) return {};
        if (!is_busy(renamed.error()) || !pause_for_turn(pauses_left)) return system_failure(renamed.error());
    }
}

}  // namespace tevra::win

// Win32: the program's file-system calls: directory trees, existence, final paths, held files, bounded whole
// reads, and replacing a file through a fresh temporary file. Paths reach the system by the hand-over rule.
#pragma once

#include "win/unique_handle.hpp"

#include <windows.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace tevra::win {

// Creates `path` and its missing ancestors. An existing directory is fine; anything else in the way is the
// system's error (183 for a file).
std::expected<void, std::string> create_directory_tree(const std::u16string& path);

// Something stands at the path, a directory too.
bool exists(const std::u16string& path);

// The path the file system reports for the open object: links and relative steps resolved, on-disk letter case,
// "\\?\" prefix.
std::expected<std::u16string, std::string> final_path(HANDLE file);

// The final path of what `path` names, links followed; directories too.
std::expected<std::u16string, std::string> canonical_path(const std::u16string& path);

// Opens an existing file, never a directory, for reading, sharing reading only: while it is open nobody can write,
// truncate, rename, replace or delete it. The handle is not inheritable. The error is the system's code.
std::expected<UniqueKernelHandle, std::uint32_t> open_to_hold(const std::u16string& path);

// Locks the open file's bytes, from offset 0 to its size, shared and at once: other readers still read every byte,
// and nobody can lock them exclusively until the handle closes. An empty file has no bytes to lock.
std::expected<void, std::string> lock_contents_shared(HANDLE file);

// The path's own directory entry names a file: not a directory, not a link.
bool directory_entry_is_file(const std::u16string& path);

// The whole file, or nothing: missing, unreadable, or larger than `max_bytes` (then never read). A file that
// another process has open without read sharing or has locked is waited for, about a second, before it counts as
// unreadable.
std::optional<std::string> read_file(const std::u16string& path, std::uint64_t max_bytes);

// Replaces `target` with `bytes`: written and flushed to a fresh `temporary` in the same directory, then renamed
// over `target` through the handle that wrote it, so that a reader finds the old or the new text, never a mix.
// Whatever stands at `temporary` is removed first, and only that name: never through a link. Another save's
// temporary file, or a reader in the way of the rename, is waited for, about a second in all.
std::expected<void, std::string> replace_file(const std::u16string& target, const std::u16string& temporary,
                                              std::string_view bytes);

}  // namespace tevra::win

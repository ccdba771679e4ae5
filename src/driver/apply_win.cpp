#include "driver/apply.hpp"

#include "common/grow_buffer.hpp"
#include "common/paths.hpp"
#include "common/utf.hpp"
#include "driver/launch.hpp"
#include "state/state_store.hpp"
#include "win/system.hpp"
#include "win/unique_handle.hpp"

#include <windows.h>

namespace tevra {
namespace {

// Opens what the path names, following links; directories open too. Sharing everything keeps
// the installer and other readers unaffected.
win::UniqueKernelHandle open_for_query(const std::u16string& path) {
    return win::UniqueKernelHandle(::CreateFileW(win::wide(win::system_path(path)), 0,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// A file that another process holds without sharing can't be opened, but its directory entry
// still tells what it is. A link seen that way can't be followed, so it doesn't count.
bool directory_entry_is_file(const std::u16string& path) {
    WIN32_FIND_DATAW entry{};
    win::UniqueFind find(::FindFirstFileExW(win::wide(win::system_path(path)), FindExInfoBasic, &entry,
                                            FindExSearchNameMatch, nullptr, 0));
    if (!find) return false;
    const bool is_link =
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(entry.dwReserved0);
    return !is_link && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool is_existing_file(const std::u16string& path) {
    win::UniqueKernelHandle file = open_for_query(path);
    if (!file) {
        const DWORD error = ::GetLastError();
        return (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) && directory_entry_is_file(path);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file.get(), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The path the file system reports for the open object: links and relative steps resolved,
// on-disk letter case, "\\?\" prefix.
std::expected<std::u16string, std::string> canonical_path(const std::u16string& path) {
    win::UniqueKernelHandle file = open_for_query(path);
    if (!file) return win::system_failure(::GetLastError());
    std::optional<std::u16string> final_path = read_growing(
        [&file](char16_t* buffer, std::size_t capacity) {
            return nonzero(::GetFinalPathNameByHandleW(file.get(), win::wide(buffer), static_cast<DWORD>(capacity), 0));
        },
        512);
    if (!final_path) return win::system_failure(::GetLastError());
    return std::move(*final_path);
}

}  // namespace

std::expected<void, std::string> apply_msi(const ProductLayout& layout, const std::string& msi_path,
                                           const std::string& expected_version) {
    const std::u16string package = utf8_to_utf16(msi_path);
    if (!is_existing_file(package)) return std::unexpected(std::string("msi not found"));
    const auto canonical_package = canonical_path(package);
    if (!canonical_package) return std::unexpected(canonical_package.error());

    // A staging directory that can't be resolved (missing, say) is compared as it is, and then
    // never contains a resolved package.
    const auto canonical_staging = canonical_path(layout.updates_dir);
    if (!path_starts_with(*canonical_package, canonical_staging ? *canonical_staging : layout.updates_dir))
        return std::unexpected(std::string("msi outside update staging"));

    UpdateStateFile state = load_state(layout);
    const AuthenticodeVerdict verdict = verify_authenticode(*canonical_package);
    // Unsigned goes on, on purpose: not every build is signed, and the user's own account staged the
    // package. Only a signature that is present and fails (a package altered after signing) stops it.
    if (verdict == AuthenticodeVerdict::Invalid) return std::unexpected(refusal_message(verdict));

    // The installer gets the very path that passed the checks, even one that has no text form.
    const auto exit_code =
        run_and_wait(u"msiexec", installer_arguments(*canonical_package, utf8_to_utf16(expected_version)));
    if (!exit_code) return std::unexpected(exit_code.error());

    const std::expected<void, std::string> recorded = record_installer_exit(state, *exit_code, expected_version);
    // Saved here with "msiexec exit ..." even when the driver then records its own text over it: the
    // failed install leaves its exit code in the file should the second save not happen.
    (void)save_state(layout, state);
    return recorded;
}

}  // namespace tevra

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
std::expected<std::u16string, std::string> final_path(HANDLE file) {
    std::optional<std::u16string> path = read_growing(
        [file](char16_t* buffer, std::size_t capacity) {
            return nonzero(::GetFinalPathNameByHandleW(file, win::wide(buffer), static_cast<DWORD>(capacity), 0));
        },
        512);
    if (!path) return win::system_failure(::GetLastError());
    return std::move(*path);
}

std::expected<std::u16string, std::string> canonical_path(const std::u16string& path) {
    win::UniqueKernelHandle file = open_for_query(path);
    if (!file) return win::system_failure(::GetLastError());
    return final_path(file.get());
}

// The package, open for reading from before its canonical path is taken until the installer has ended.
// Reading is shared, so the trust provider and the installer open it by that path and read it; writing,
// renaming, replacing and deleting are not, so what they read is what was checked. The handle is not
// inheritable: the installer gets nothing but its arguments.
struct HeldPackage {
    win::UniqueKernelHandle file;
    std::u16string canonical_path;
};

std::expected<HeldPackage, std::string> hold_package(const std::u16string& path) {
    win::UniqueKernelHandle file(::CreateFileW(win::wide(win::system_path(path)), GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return win::system_failure(::GetLastError());
    std::expected<std::u16string, std::string> canonical = final_path(file.get());
    if (!canonical) return std::unexpected(std::move(canonical.error()));
    return HeldPackage{std::move(file), std::move(*canonical)};
}

}  // namespace

std::expected<void, std::string> apply_msi(const ProductLayout& layout, const std::string& msi_path,
                                           const std::string& expected_version) {
    if (auto version = check_expected_version(expected_version); !version) return version;
    const std::u16string package = utf8_to_utf16(msi_path);
    if (!is_existing_file(package)) return std::unexpected(std::string("msi not found"));
    // Held until this returns, past the installer's end.
    const std::expected<HeldPackage, std::string> held = hold_package(package);
    if (!held) return std::unexpected(held.error());
    const std::u16string& canonical_package = held->canonical_path;

    // A staging directory that can't be resolved (missing, say) is compared as it is, and then
    // never contains a resolved package.
    const auto canonical_staging = canonical_path(layout.updates_dir);
    if (!path_starts_with(canonical_package, canonical_staging ? *canonical_staging : layout.updates_dir))
        return std::unexpected(std::string("msi outside update staging"));

    // Loaded before the installer runs, which may take long: the record saved afterwards is this one with
    // the outcome, and whatever others write to the file meanwhile is overwritten.
    UpdateStateFile state = load_state(layout);
    const AuthenticodeVerdict verdict = verify_authenticode(canonical_package);
    // Unsigned goes on, on purpose: not every build is signed, and the user's own account staged the
    // package. Only a signature that is present and fails (a package altered after signing) stops it.
    if (verdict == AuthenticodeVerdict::Invalid) return std::unexpected(refusal_message(verdict));

    // The installer gets the very path that passed the checks, even one that has no text form.
    const auto exit_code =
        run_and_wait(u"msiexec", installer_arguments(canonical_package, utf8_to_utf16(expected_version)));
    if (!exit_code) return std::unexpected(exit_code.error());

    const std::expected<void, std::string> recorded = record_installer_exit(state, *exit_code, expected_version);
    // Saved here with "msiexec exit ..." even when the driver then records its own text over it: the
    // failed install leaves its exit code in the file should the second save not happen.
    (void)save_state(layout, state);
    return recorded;
}

}  // namespace tevra

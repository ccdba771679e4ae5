#include "driver/apply_msi.hpp"

#include "common/utf.hpp"
#include "driver/apply_outcome.hpp"
#include "driver/containment.hpp"
#include "driver/run_and_wait.hpp"
#include "state/state_store.hpp"
#include "trust/authenticode.hpp"
#include "win/system_error.hpp"
#include "win/system_path.hpp"
#include "win/unique_handle.hpp"

#include <windows.h>

namespace tevra {
namespace {

// Opens what the path names, following links; directories open too. Sharing everything keeps
// the installer and other readers unaffected.
win::UniqueFile open_for_query(const std::u16string& path) {
    return win::UniqueFile(::CreateFileW(win::wide(win::system_path(path)), 0,
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
    bool is_link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(entry.dwReserved0);
    return !is_link && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool is_existing_file(const std::u16string& path) {
    win::UniqueFile file = open_for_query(path);
    if (!file) {
        DWORD error = ::GetLastError();
        return (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) && directory_entry_is_file(path);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file.get(), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The path the file system reports for the open object: links and relative steps resolved,
// on-disk letter case, "\\?\" prefix.
std::expected<std::u16string, std::string> canonical_path(const std::u16string& path) {
    win::UniqueFile file = open_for_query(path);
    if (!file) return std::unexpected(win::system_error_text(::GetLastError()));
    std::u16string buffer(512, u'\0');
    for (;;) {
        DWORD length = ::GetFinalPathNameByHandleW(file.get(), win::wide(buffer), static_cast<DWORD>(buffer.size()), 0);
        if (length == 0) return std::unexpected(win::system_error_text(::GetLastError()));
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length);
    }
}

}  // namespace

std::expected<void, std::string> apply_msi(const std::string& msi_path, const std::string& expected_version) {
    std::u16string package = utf8_to_utf16(msi_path);
    if (!is_existing_file(package)) return std::unexpected(std::string("msi not found"));
    auto canonical_package = canonical_path(package);
    if (!canonical_package) return std::unexpected(canonical_package.error());

    // A staging directory that can't be resolved (missing, say) is compared as it is, and then
    // never contains a resolved package.
    std::u16string staging = updates_dir();
    auto canonical_staging = canonical_path(staging);
    if (!path_starts_with(*canonical_package, canonical_staging ? *canonical_staging : staging)) {
        return std::unexpected(std::string("msi outside update staging"));
    }

    UpdateStateFile state = load_state();
    AuthenticodeVerdict verdict = verify_authenticode(*canonical_package);
    if (verdict == AuthenticodeVerdict::Invalid) return std::unexpected(refusal_message(verdict));

    auto exit_code = run_and_wait("msiexec", installer_arguments(utf16_to_utf8_lossy(*canonical_package), expected_version));
    if (!exit_code) return std::unexpected(exit_code.error());

    std::optional<std::string> failure = record_installer_exit(state, *exit_code, expected_version);
    (void)save_state(state);
    if (failure) return std::unexpected(std::move(*failure));
    return {};
}

}  // namespace tevra

#include "driver/apply.hpp"

#include "common/paths.hpp"
#include "common/utf.hpp"
#include "driver/launch.hpp"
#include "state/state_store.hpp"
#include "win/file.hpp"
#include "win/system.hpp"
#include "win/unique_handle.hpp"

#include <windows.h>

namespace tevra {
namespace {

// The package, open for reading from before its canonical path is taken until the installer has ended, and its
// bytes locked shared. Reading is shared, so the trust provider and the installer open it by that path and read it;
// writing, renaming, replacing, deleting and locking for writing are not, so what they read is what was checked.
// Nothing there, a broken link or a directory is no package ("msi not found"); a file that is there but can't be
// held (open elsewhere for writing, locked) fails with the system's text.
std::expected<win::UniqueKernelHandle, std::string> hold_package(const std::u16string& path) {
    std::expected<win::UniqueKernelHandle, std::uint32_t> file = win::open_to_hold(path);
    if (!file) {
        const std::uint32_t error = file.error();
        // A directory is refused with access denied, as is a file that the user may not read (on Windows; under
        // Wine every file is readable to root): only the directory entry tells them apart.
        if (error == ERROR_SHARING_VIOLATION || (error == ERROR_ACCESS_DENIED && win::directory_entry_is_file(path)))
            return win::system_failure(error);
        return std::unexpected(std::string("msi not found"));
    }
    if (auto locked = win::lock_contents_shared(file->get()); !locked) return std::unexpected(locked.error());
    return std::move(*file);
}

}  // namespace

std::expected<void, std::string> apply_msi(const ProductLayout& layout, const std::string& msi_path,
                                           const std::string& expected_version) {
    if (auto version = check_expected_version(expected_version); !version) return version;
    // Held until this returns, past the installer's end.
    const std::expected<win::UniqueKernelHandle, std::string> held = hold_package(utf8_to_utf16(msi_path));
    if (!held) return std::unexpected(held.error());
    const std::expected<std::u16string, std::string> canonical = win::final_path(held->get());
    if (!canonical) return std::unexpected(canonical.error());
    const std::u16string& canonical_package = *canonical;

    // A staging directory that can't be resolved (missing, say) is compared as it is, and then
    // never contains a resolved package.
    const auto canonical_staging = win::canonical_path(layout.updates_dir);
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

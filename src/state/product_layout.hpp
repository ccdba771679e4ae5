// Portable: where the product keeps its files, as path texts, made once per run from the environment.
#pragma once

#include <optional>
#include <string>

namespace tevra {

struct ProductLayout {
    std::u16string product_dir;        // "...\Tevra Remote" under the local application data
    std::u16string updates_dir;        // the staging directory, where packages must lie
    std::u16string recovery_dir;       // inside updates_dir
    std::u16string crash_reports_dir;  // beside updates_dir
    std::u16string state_file;         // update_state.json
    std::u16string temporary_file;     // update_state.json.tmp, renamed over the state file by a save

    bool operator==(const ProductLayout&) const = default;
};

// From the values of LOCALAPPDATA and USERPROFILE (nothing when undefined): the product directory is
// "Tevra Remote" in LOCALAPPDATA, even an empty one; else in USERPROFILE\AppData\Local; else in ".".
ProductLayout product_layout(const std::optional<std::u16string>& local_app_data,
                             const std::optional<std::u16string>& user_profile);

}  // namespace tevra

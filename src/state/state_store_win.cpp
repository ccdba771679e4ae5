#include "state/state_store.hpp"

#include "state/state_codec.hpp"
#include "win/file.hpp"
#include "win/system.hpp"

#include <windows.h>

#include <cstdint>

namespace tevra {
namespace {

// Far above any record the updater writes (a command line holds at most 32,767 units): a larger file is no record
// of its, and reading it would cost every run its time and memory.
constexpr std::uint64_t largest_state_file = std::uint64_t{16} << 20;

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
    if (auto bytes = win::read_file(layout.state_file, largest_state_file)) {
        if (auto state = state_from_json(*bytes)) return std::move(*state);
    }
    return default_state();
}

std::expected<void, std::string> save_state(const ProductLayout& layout, const UpdateStateFile& state) {
    for (const std::u16string* dir : {&layout.updates_dir, &layout.recovery_dir, &layout.crash_reports_dir})
        if (auto created = win::create_directory_tree(*dir); !created) return created;

    // Written as the caller holds it. updated_unix is never stamped here: it is the product's own record of
    // when it staged an update, carried through every save.
    return win::replace_file(layout.state_file, layout.temporary_file, state_to_json(state));
}

}  // namespace tevra

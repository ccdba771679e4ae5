// The update state record: phase names, the default record and the clock conversion.
#include "state/update_state.hpp"

#include <array>
#include <cstddef>

namespace tevra {

namespace {

// Indexed by the numeric value of UpdatePhase.
constexpr std::array<std::string_view, 7> phase_names = {
    "idle", "downloaded", "applying", "awaiting_first_start", "healthy", "rollback_required", "failed",
};
static_assert(phase_names.size() == static_cast<std::size_t>(UpdatePhase::failed) + 1, "a name for every phase");

// FILETIME of 1970-01-01 00:00:00 UTC, and FILETIME ticks (100 ns) per second.
constexpr std::uint64_t unix_epoch_as_filetime = 116444736000000000ULL;
constexpr std::uint64_t filetime_ticks_per_second = 10000000ULL;

}  // namespace

std::string_view phase_name(UpdatePhase phase) {
    const auto index = static_cast<std::size_t>(phase);
    return index < phase_names.size() ? phase_names[index] : std::string_view{};
}

std::optional<UpdatePhase> phase_from_name(std::string_view name) {
    for (std::size_t i = 0; i < phase_names.size(); ++i)
        if (phase_names[i] == name) return static_cast<UpdatePhase>(i);
    return std::nullopt;
}

std::uint64_t unix_time_from_filetime(std::uint64_t filetime) {
    if (filetime < unix_epoch_as_filetime) return 0;
    return (filetime - unix_epoch_as_filetime) / filetime_ticks_per_second;
}

UpdateStateFile default_state_at(std::uint64_t unix_seconds) {
    UpdateStateFile state;
    state.phase = UpdatePhase::idle;
    state.current_version = std::string(product_version);
    state.updated_unix = unix_seconds;
    return state;
}

}  // namespace tevra

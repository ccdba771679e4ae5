// Portable: the persisted update state record, its phases, the default record and the clock conversion.
#pragma once

#include "version.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tevra {

enum class UpdatePhase : std::uint8_t {
    idle,
    downloaded,
    applying,
    awaiting_first_start,
    healthy,
    rollback_required,
    failed,
};

// Field order is the key order of the file and the element order of the array form.
// clang-tidy 16 takes libc++ 16's noexcept std::string move constructor for one that may throw,
// and so the implicit noexcept move of this struct too.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct UpdateStateFile {
    UpdatePhase phase = UpdatePhase::idle;
    std::string current_version;
    std::optional<std::string> candidate_version;
    std::optional<std::string> staged_msi;
    std::optional<std::string> last_error;
    std::optional<std::string> last_accepted_version;
    std::uint64_t updated_unix = 0;

    bool operator==(const UpdateStateFile&) const = default;
};

inline constexpr std::string_view product_version = TEVRA_PRODUCT_VERSION;

std::string_view phase_name(UpdatePhase phase);
// Exact, case-sensitive match of the whole text against the seven names.
std::optional<UpdatePhase> phase_from_name(std::string_view name);

// `filetime` counts 100 ns intervals since 1601-01-01 UTC; a clock before 1970 gives 0.
std::uint64_t unix_time_from_filetime(std::uint64_t filetime);

// The default record stamped with the given time.
UpdateStateFile default_state_at(std::uint64_t unix_seconds);

}  // namespace tevra

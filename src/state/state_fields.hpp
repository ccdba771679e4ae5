// Portable: the record's fields in their one order, and their keys in the file. Shared by the
// state file's writer and reader only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tevra {

// The order of the record's fields, of the keys in the file and of the elements of the array form.
enum class Field : std::uint8_t {
    phase,
    current_version,
    candidate_version,
    staged_msi,
    last_error,
    last_accepted_version,
    updated_unix,
};

inline constexpr std::size_t field_count = static_cast<std::size_t>(Field::updated_unix) + 1;

// Indexed by Field.
inline constexpr std::array<std::string_view, field_count> field_keys = {
    "phase",      "current_version",       "candidate_version", "staged_msi",
    "last_error", "last_accepted_version", "updated_unix",
};

inline constexpr std::array<Field, field_count> fields_in_order = [] {
    std::array<Field, field_count> fields{};
    for (std::size_t i = 0; i < field_count; ++i) fields[i] = static_cast<Field>(i);
    return fields;
}();

constexpr std::string_view field_key(Field field) { return field_keys[static_cast<std::size_t>(field)]; }

}  // namespace tevra

// Portable: the state file's text, written exactly and read strictly.
#pragma once

#include "state/update_state.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
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

// The file's exact text: two-space indent, LF line ends, no trailing newline. Nothing in a record
// can fail to be written; running out of memory propagates as std::bad_alloc.
std::string state_to_json(const UpdateStateFile& state);

// Strict reader. Any breach gives an error text (line and column), never a partial record.
// Running out of memory is no breach of the text: it propagates as std::bad_alloc too.
std::expected<UpdateStateFile, std::string> state_from_json(std::string_view bytes);

}  // namespace tevra

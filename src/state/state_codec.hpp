// Portable: the state file's text, written exactly and read strictly.
#pragma once

#include "state/update_state.hpp"

#include <expected>
#include <string>
#include <string_view>

namespace tevra {

// The file's exact text: two-space indent, LF line ends, no trailing newline.
// Fails only when memory runs out ("out of memory"); never throws.
std::expected<std::string, std::string> state_to_json(const UpdateStateFile& state);

// Strict reader. Any breach gives an error text (line and column), never a partial record.
// Never throws: running out of memory is reported as an error too.
std::expected<UpdateStateFile, std::string> state_from_json(std::string_view bytes);

}  // namespace tevra

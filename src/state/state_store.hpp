// Win32: the state record on disk: where the staging directory lies, loading, and the atomic save.
#pragma once

#include "state/update_state.hpp"

#include <expected>
#include <string>

namespace tevra {

// The product directory joined with "Updates".
std::u16string updates_dir();

// Never fails: a missing, unreadable or unacceptable state file gives the default record.
UpdateStateFile load_state();

// Replaces the state file through a temporary file and a rename; a reader sees the old or the new
// text, never a mix. Creates the product layout first.
std::expected<void, std::string> save_state(const UpdateStateFile& state);

}  // namespace tevra

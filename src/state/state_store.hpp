// Where the state lives on disk, and how it is read and replaced. Win32.
#pragma once

#include "state/update_state.hpp"

#include <expected>
#include <optional>
#include <string>

namespace tevra {

inline constexpr std::u16string_view product_dir_name = u"Tevra Remote";
inline constexpr std::u16string_view state_file_name = u"update_state.json";
inline constexpr std::u16string_view temporary_file_name = u"update_state.json.tmp";

// LOCALAPPDATA (even when empty), else USERPROFILE\AppData\Local, else "."; then "Tevra Remote".
std::u16string product_data_dir();
std::u16string updates_dir();
std::u16string state_file_path();

// The whole file, or nothing on any failure (missing, unreadable, out of memory).
std::optional<std::string> read_state_file();

// Replaces the state file through a temporary file and a rename; a reader sees the old or the new
// text, never a mix. Creates the product layout first.
std::expected<void, std::string> save_state(const UpdateStateFile& state);

// Stamped with the current system time.
UpdateStateFile default_state();

// Never fails: anything unusable gives the default record.
UpdateStateFile load_state();

}  // namespace tevra

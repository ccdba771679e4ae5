// Win32: the state record on disk: where the product's files lie, loading, and the atomic save.
#pragma once

#include "state/product_layout.hpp"
#include "state/update_state.hpp"

#include <expected>
#include <string>

namespace tevra {

// The layout this process's environment gives (LOCALAPPDATA, USERPROFILE), read once per run.
ProductLayout current_product_layout();

// Never fails: a missing, unreadable or unacceptable state file (larger than 16 MiB too) gives the default
// record. A file that another process holds without read sharing is waited for, about a second, before it
// counts as unreadable.
UpdateStateFile load_state(const ProductLayout& layout);

// Replaces the state file through the temporary file and a rename; a reader sees the old or the new
// text, never a mix. Creates the product's directories first. Another save, or a reader in the way, is waited
// for about a second; the last save wins.
std::expected<void, std::string> save_state(const ProductLayout& layout, const UpdateStateFile& state);

}  // namespace tevra

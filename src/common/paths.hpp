// Path texts as UTF-16 units: joining, and how a path must be handed to the system. Portable.
#pragma once

#include <string>
#include <string_view>

namespace tevra {

// Inserts exactly one backslash unless `base` is empty, ends in a separator or is a bare drive ("C:").
std::u16string join_path(std::u16string_view base, std::u16string_view component);

// True when the path may reach the system as it is: already "\\?\" or "\??\", or a short
// drive-absolute or double-separator path. Anything else must be made absolute and prefixed.
bool passes_to_system_unchanged(std::u16string_view path);

// The extended-length form of an absolute path as GetFullPathNameW gives it.
std::u16string extended_length_form(std::u16string_view full_path);

}  // namespace tevra

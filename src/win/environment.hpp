// Win32: what the process is given by its environment: variables and its own program file.
#pragma once

#include <optional>
#include <string>

namespace tevra::win {

// A variable counts as defined when the lookup succeeds, also with an empty value.
std::optional<std::u16string> environment_variable(const char16_t* name);

// The running program's own file, or nothing when the system cannot tell.
std::optional<std::u16string> program_file_path();

}  // namespace tevra::win

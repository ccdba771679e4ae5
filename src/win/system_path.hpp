// Win32: handing paths to the system, the one place that applies the extended-length rule.
#pragma once

#include <string>
#include <string_view>

namespace tevra::win {

// NUL-terminated UTF-16 the file APIs accept: relative and long paths are made absolute and
// given the "\\?\" prefix. If the system cannot make the path absolute it is passed unchanged
// and the call that uses it reports the error.
std::u16string system_path(std::u16string_view path);

}  // namespace tevra::win

// Whether one path lies inside another, judged by whole components. Portable.
#pragma once

#include <string_view>

namespace tevra {

// True when every component of `dir` (prefix, root, names) equals the component of `path` at the
// same position. Names compare unit for unit; only a drive letter ignores case. "C:\x" never lies
// inside "\\?\C:\" since the prefixes differ in kind.
bool path_starts_with(std::u16string_view path, std::u16string_view dir);

}  // namespace tevra

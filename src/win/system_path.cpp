#include "win/system_path.hpp"

#include "common/paths.hpp"
#include "win/grow_buffer.hpp"
#include "win/wide.hpp"

#include <windows.h>

namespace tevra::win {

std::u16string system_path(std::u16string_view path) {
    std::u16string input(path);
    if (passes_to_system_unchanged(path)) return input;
    std::optional<std::u16string> full = read_growing(
        [&input](char16_t* buffer, std::size_t capacity) {
            return nonzero(::GetFullPathNameW(wide(input), static_cast<DWORD>(capacity), wide(buffer), nullptr));
        },
        MAX_PATH);
    if (!full) return input;
    return extended_length_form(*full);
}

}  // namespace tevra::win

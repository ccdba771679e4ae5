#include "win/system_path.hpp"

#include "common/paths.hpp"

#include <windows.h>

namespace tevra::win {

std::u16string system_path(std::u16string_view path) {
    std::u16string input(path);
    if (passes_to_system_unchanged(path)) return input;
    std::u16string full(MAX_PATH, u'\0');
    for (;;) {
        DWORD length = ::GetFullPathNameW(wide(input), static_cast<DWORD>(full.size()), wide(full), nullptr);
        if (length == 0) return input;
        if (length < full.size()) {
            full.resize(length);
            return extended_length_form(full);
        }
        full.resize(length);
    }
}

}  // namespace tevra::win

#include "win/environment.hpp"

#include "win/grow_buffer.hpp"
#include "win/wide.hpp"

#include <windows.h>

namespace tevra::win {

std::optional<std::u16string> environment_variable(const char16_t* name) {
    return read_growing([name](char16_t* buffer, std::size_t capacity) -> std::optional<std::size_t> {
        // A defined but empty variable gives 0 without setting an error.
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(wide(name), wide(buffer), static_cast<DWORD>(capacity));
        if (length == 0 && ::GetLastError() != ERROR_SUCCESS) return std::nullopt;
        return length;
    });
}

std::optional<std::u16string> program_file_path() {
    return read_growing(
        [](char16_t* buffer, std::size_t capacity) {
            return nonzero(::GetModuleFileNameW(nullptr, wide(buffer), static_cast<DWORD>(capacity)));
        },
        MAX_PATH);
}

}  // namespace tevra::win

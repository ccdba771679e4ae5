#include "win/environment.hpp"

#include <windows.h>

namespace tevra::win {

std::optional<std::u16string> environment_variable(const char16_t* name) {
    auto wide_name = reinterpret_cast<const wchar_t*>(name);
    std::u16string value(256, u'\0');
    for (;;) {
        // A defined but empty variable gives 0 without setting an error.
        ::SetLastError(ERROR_SUCCESS);
        DWORD length = ::GetEnvironmentVariableW(wide_name, reinterpret_cast<wchar_t*>(value.data()),
                                                 static_cast<DWORD>(value.size()));
        if (length == 0 && ::GetLastError() != ERROR_SUCCESS) return std::nullopt;
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

}  // namespace tevra::win

namespace tevra::win {

std::optional<std::u16string> program_file_path() {
    std::u16string path(MAX_PATH, u'\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()), static_cast<DWORD>(path.size()));
        if (length == 0) return std::nullopt;
        // A full buffer means the name may have been cut short.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 0x8000) return std::nullopt;
        path.resize(path.size() * 2);
    }
}

}  // namespace tevra::win

// Win32: the one place a system error code becomes a failure text.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace tevra::win {

// The system's message for `code` followed by " (os error <code>)".
std::string system_error_text(std::uint32_t code);

// The failure result carrying that text.
inline std::unexpected<std::string> system_failure(std::uint32_t code) {
    return std::unexpected(system_error_text(code));
}

}  // namespace tevra::win

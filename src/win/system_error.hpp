// The one place a system error code becomes a failure text.
#pragma once

#include <cstdint>
#include <string>

namespace tevra::win {

// The system's message for `code` followed by " (os error <code>)".
std::string system_error_text(std::uint32_t code);

}  // namespace tevra::win

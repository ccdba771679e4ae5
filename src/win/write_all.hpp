// Win32: writing a whole buffer to a file or pipe.
#pragma once

#include <windows.h>

#include <expected>
#include <string>
#include <string_view>

namespace tevra::win {

// Writes until every byte is written. A write that reports no progress fails with "failed to write
// whole buffer"; a failed write with the system error text.
std::expected<void, std::string> write_all(HANDLE handle, std::string_view bytes);

}  // namespace tevra::win

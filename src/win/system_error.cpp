#include "win/system_error.hpp"

#include "common/utf.hpp"
#include "win/wide.hpp"

#include <windows.h>

#include <string_view>

namespace tevra::win {
namespace {

constexpr DWORD nt_status_bit = 0x10000000;

std::string message_for(DWORD code) {
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE module = nullptr;
    DWORD lookup = code;
    // NT status codes mapped into the error space keep their messages in ntdll's table.
    if ((code & nt_status_bit) != 0) {
        module = ::GetModuleHandleW(L"NTDLL.DLL");
        if (module != nullptr) {
            lookup = code & ~nt_status_bit;
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
        }
    }
    char16_t buffer[2048];
    DWORD length = ::FormatMessageW(flags, module, lookup, 0, wide(buffer), 2048, nullptr);
    if (length == 0) {
        DWORD lookup_error = ::GetLastError();
        return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " +
               std::to_string(lookup_error) + ")";
    }
    auto text = utf16_to_utf8(std::u16string_view(buffer, length));
    if (!text) return "OS Error " + std::to_string(code) + " (FormatMessageW() returned invalid UTF-16)";
    while (!text->empty() && std::string_view(" \t\r\n\v\f").find(text->back()) != std::string_view::npos)
        text->pop_back();
    return std::move(*text);
}

}  // namespace

std::string system_error_text(std::uint32_t code) {
    return message_for(code) + " (os error " + std::to_string(code) + ")";
}

}  // namespace tevra::win

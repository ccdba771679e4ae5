#include "win/system.hpp"

#include "common/grow_buffer.hpp"
#include "common/paths.hpp"
#include "common/utf.hpp"

#include <algorithm>

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

std::optional<std::u16string> environment_variable(const char16_t* name) {
    return read_growing(
        [name](char16_t* buffer, std::size_t capacity) -> std::optional<std::size_t> {
            // A defined but empty variable gives 0 without setting an error.
            ::SetLastError(ERROR_SUCCESS);
            const DWORD length = ::GetEnvironmentVariableW(wide(name), wide(buffer), static_cast<DWORD>(capacity));
            if (length == 0 && ::GetLastError() != ERROR_SUCCESS) return std::nullopt;
            return length;
        },
        256);
}

std::optional<std::u16string> program_file_path() {
    return read_growing(
        [](char16_t* buffer, std::size_t capacity) -> std::optional<std::size_t> {
            const DWORD length = ::GetModuleFileNameW(nullptr, wide(buffer), static_cast<DWORD>(capacity));
            if (length == 0) return std::nullopt;
            // A cut-off name is reported as the whole capacity, without the capacity it needs: ask for twice as much.
            if (length == capacity) return std::min(capacity * 2, longest_text);
            return length;
        },
        MAX_PATH);
}

std::string system_error_text(std::uint32_t code) {
    return message_for(code) + " (os error " + std::to_string(code) + ")";
}

std::expected<void, std::string> write_all(HANDLE handle, std::string_view bytes) {
    // Small enough for every kind of handle: older consoles refuse a single large write.
    constexpr std::size_t chunk_limit = 65536;
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(bytes.size() < chunk_limit ? bytes.size() : chunk_limit);
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr)) return system_failure(::GetLastError());
        if (written == 0) return std::unexpected(std::string("failed to write whole buffer"));
        bytes.remove_prefix(written);
    }
    return {};
}

}  // namespace tevra::win

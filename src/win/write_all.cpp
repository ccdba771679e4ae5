#include "win/write_all.hpp"

#include "win/system_error.hpp"

namespace tevra::win {

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

// Win32: reading a text that the system writes into a caller's buffer, growing the buffer until it fits.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tevra::win {

// `query(buffer, capacity)` asks the system for the text and gives back the count it reported, or
// nothing when the call failed (GetLastError tells why; nothing here changes it). The count follows
// the system's convention: the length written (without its NUL) when the text fits, else the
// capacity needed (with its NUL). GetModuleFileNameW instead reports a cut-off text as the full
// capacity; that is taken as "too small" and the capacity doubles, up to the longest path.
template <typename Query>
std::optional<std::u16string> read_growing(Query query, std::size_t initial_capacity = 256) {
    constexpr std::size_t longest_path = 0x8000;
    std::u16string buffer(initial_capacity, u'\0');
    for (;;) {
        std::optional<std::size_t> reported = query(buffer.data(), buffer.size());
        if (!reported) return std::nullopt;
        if (*reported < buffer.size()) {
            buffer.resize(*reported);
            return buffer;
        }
        if (*reported == buffer.size()) {
            if (buffer.size() >= longest_path) return std::nullopt;
            buffer.resize(buffer.size() * 2);
        } else {
            buffer.resize(*reported);
        }
    }
}

// The usual convention: 0 is a failure.
inline std::optional<std::size_t> nonzero(unsigned long count) {
    if (count == 0) return std::nullopt;
    return count;
}

}  // namespace tevra::win

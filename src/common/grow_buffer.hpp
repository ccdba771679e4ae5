// Portable: reading a text that a query writes into a caller's buffer, growing the buffer until it fits.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tevra {

// No path or environment value is longer than this many UTF-16 units, its NUL included.
inline constexpr std::size_t longest_text = 0x8000;

// `query(buffer, capacity)` writes the text and reports what it needs: the text's length when it fits
// (less than `capacity`), otherwise the capacity it needs (more than `capacity`); nothing when it failed.
// A query may report less on a retry (the text changed meanwhile). A query that asks for no more than it
// was given, or for more than `longest_text`, would never end: that is a failure too.
template <typename Query>
std::optional<std::u16string> read_growing(Query query, std::size_t initial_capacity) {
    std::u16string buffer(initial_capacity, u'\0');
    for (;;) {
        const std::optional<std::size_t> reported = query(buffer.data(), buffer.size());
        if (!reported) return std::nullopt;
        if (*reported < buffer.size()) {
            buffer.resize(*reported);
            return buffer;
        }
        if (*reported == buffer.size() || *reported > longest_text) return std::nullopt;
        buffer.resize(*reported);
    }
}

// The usual convention of the system's text queries: 0 is a failure.
inline std::optional<std::size_t> nonzero(unsigned long count) {
    if (count == 0) return std::nullopt;
    return count;
}

}  // namespace tevra

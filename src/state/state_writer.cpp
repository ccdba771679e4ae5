// The state file's writer: the exact text of a record, one member per line in field order.
#include "state/state_codec.hpp"

#include <array>
#include <charconv>
#include <cstddef>

namespace tevra {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// For each byte: 0 when it is copied unchanged, else the letter written after the backslash
// ('u' stands for the six-byte form \u00xx).
constexpr std::array<char, 256> make_escape_table() {
    std::array<char, 256> table{};
    for (int b = 0; b < 0x20; ++b) table[static_cast<std::size_t>(b)] = 'u';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}

constexpr std::array<char, 256> escape_table = make_escape_table();

void append_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t plain_from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const char escape = escape_table[byte];
        if (escape == 0) continue;
        out.append(text.substr(plain_from, i - plain_from));
        if (escape == 'u') {
            const char seq[6] = {'\\', 'u', '0', '0', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
            out.append(seq, sizeof seq);
        } else {
            out.push_back('\\');
            out.push_back(escape);
        }
        plain_from = i + 1;
    }
    out.append(text.substr(plain_from));
    out.push_back('"');
}

void append_optional_text(std::string& out, const std::optional<std::string>& text) {
    if (text)
        append_json_string(out, *text);
    else
        out.append("null");
}

void append_value(std::string& out, const UpdateStateFile& state, Field field) {
    switch (field) {
        case Field::phase: append_json_string(out, phase_name(state.phase)); return;
        case Field::current_version: append_json_string(out, state.current_version); return;
        case Field::candidate_version: append_optional_text(out, state.candidate_version); return;
        case Field::staged_msi: append_optional_text(out, state.staged_msi); return;
        case Field::last_error: append_optional_text(out, state.last_error); return;
        case Field::last_accepted_version: append_optional_text(out, state.last_accepted_version); return;
        case Field::updated_unix: {
            char digits[20];
            out.append(digits, std::to_chars(digits, digits + sizeof digits, state.updated_unix).ptr);
            return;
        }
    }
}

}  // namespace

std::string state_to_json(const UpdateStateFile& state) {
    std::string out;
    out.reserve(128);
    for (const Field field : fields_in_order) {
        // The opening brace or the separator of the previous member, the indent, the key.
        out.append(field == fields_in_order.front() ? "{\n  " : ",\n  ");
        append_json_string(out, field_key(field));
        out.append(": ");
        append_value(out, state, field);
    }
    out.append("\n}");
    return out;
}

}  // namespace tevra

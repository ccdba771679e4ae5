// The state file's JSON text: an exact writer and a strict reader.
//
// The reader never recurses. The values of members it does not know are skipped with a small
// explicit stack of open containers kept on the heap, so any nesting depth costs only memory, and
// running out of memory becomes an ordinary error result.
#include "state/state_codec.hpp"

#include "common/utf.hpp"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <exception>
#include <limits>
#include <vector>

namespace tevra {

namespace {

// Member keys, in field order: the key order of the file and the element order of the array form.
constexpr std::array<std::string_view, 7> field_keys = {
    "phase",      "current_version",       "candidate_version", "staged_msi",
    "last_error", "last_accepted_version", "updated_unix",
};

enum Field : int {
    field_phase,
    field_current_version,
    field_candidate_version,
    field_staged_msi,
    field_last_error,
    field_last_accepted_version,
    field_updated_unix,
};

int field_index(std::string_view key) {
    for (std::size_t i = 0; i < field_keys.size(); ++i) {
        if (field_keys[i] == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::optional<std::string>* optional_text(UpdateStateFile& state, int field) {
    switch (field) {
        case field_candidate_version: return &state.candidate_version;
        case field_staged_msi: return &state.staged_msi;
        case field_last_error: return &state.last_error;
        case field_last_accepted_version: return &state.last_accepted_version;
        default: return nullptr;
    }
}

constexpr char hex_digits[] = "0123456789abcdef";

// ---------------------------------------------------------------------------------------------
// Writer

// For each byte: 0 when it is copied unchanged, else the letter written after the backslash
// ('u' stands for the six-byte form \u00xx).
constexpr std::array<char, 256> make_escape_table() {
    std::array<char, 256> table{};
    for (int b = 0; b < 0x20; ++b) {
        table[static_cast<std::size_t>(b)] = 'u';
    }
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
        if (escape == 0) {
            continue;
        }
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

// What precedes a field's value: the opening brace or the separator of the previous field, the
// indent, the key and ": ".
void append_key(std::string& out, int field) {
    out.append(field == field_phase ? "{\n  " : ",\n  ");
    append_json_string(out, field_keys[static_cast<std::size_t>(field)]);
    out.append(": ");
}

void append_optional_text(std::string& out, const std::optional<std::string>& text) {
    if (text) {
        append_json_string(out, *text);
    } else {
        out.append("null");
    }
}

// ---------------------------------------------------------------------------------------------
// Reader

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A byte that ends a run of plain bytes inside a string: quote, backslash or a control byte.
constexpr bool ends_plain_run(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b == '"' || b == '\\' || b < 0x20;
}

// Whether any of the eight bytes of `word` ends a plain run. Each test is exact about whether
// some byte matches (a false flag can only sit above a true one), so their union is exact too.
constexpr bool word_ends_plain_run(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const std::uint64_t quote = word ^ (ones * '"');
    const std::uint64_t backslash = word ^ (ones * '\\');
    const std::uint64_t found = ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash) |
                                ((word - ones * 0x20) & ~word);
    return (found & highs) != 0;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads one text. Every function returns false after recording the first error; the caller then
// stops at once, so nothing after the first breach is looked at.
class Reader {
public:
    explicit Reader(std::string_view text)
        : begin_(text.data()), pos_(text.data()), end_(text.data() + text.size()) {}

    std::expected<UpdateStateFile, std::string> read() {
        UpdateStateFile state;
        skip_whitespace();
        bool ok = false;
        if (pos_ == end_) {
            ok = fail("empty text");
        } else if (*pos_ == '{') {
            ok = read_object_form(state);
        } else if (*pos_ == '[') {
            ok = read_array_form(state);
        } else {
            ok = fail("expected an object or an array");
        }
        if (ok) {
            skip_whitespace();
            if (pos_ != end_) {
                ok = fail("unexpected text after the value");
            }
        }
        if (!ok) {
            return std::unexpected(std::move(error_));
        }
        return state;
    }

private:
    const char* begin_;
    const char* pos_;
    const char* end_;
    std::string error_;
    std::string scratch_;     // decoded keys and phase names
    std::vector<char> open_;  // closing bracket of each container open while skipping

    bool fail(const char* what) { return fail_at(pos_, what); }

    bool fail_at(const char* where, const char* what) {
        std::size_t line = 1;
        const char* line_start = begin_;
        for (const char* p = begin_; p != where; ++p) {
            if (*p == '\n') {
                ++line;
                line_start = p + 1;
            }
        }
        const auto column = static_cast<std::size_t>(where - line_start) + 1;
        char digits[24];
        error_ = what;
        error_ += " at line ";
        error_.append(digits, std::to_chars(digits, digits + sizeof digits, line).ptr);
        error_ += " column ";
        error_.append(digits, std::to_chars(digits, digits + sizeof digits, column).ptr);
        return false;
    }

    bool at(char c) const { return pos_ != end_ && *pos_ == c; }

    void skip_whitespace() {
        while (pos_ != end_ && is_whitespace(*pos_)) {
            ++pos_;
        }
    }

    bool expect(char c, const char* what) {
        if (!at(c)) {
            return fail(what);
        }
        ++pos_;
        return true;
    }

    bool expect_literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - pos_) < word.size() ||
            std::memcmp(pos_, word.data(), word.size()) != 0) {
            return fail("invalid literal");
        }
        pos_ += word.size();
        return true;
    }

    // Four hex digits after "\u".
    bool read_hex4(std::uint32_t& value) {
        if (end_ - pos_ < 4) {
            return fail("incomplete \\u escape");
        }
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(pos_[i]);
            if (digit < 0) {
                return fail("invalid \\u escape");
            }
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        pos_ += 4;
        return true;
    }

    // Syntax only: at a backslash, steps over one valid escape.
    bool skip_escape() {
        ++pos_;
        if (pos_ == end_) {
            return fail("unterminated string");
        }
        switch (*pos_) {
            case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
                ++pos_;
                return true;
            case 'u': {
                ++pos_;
                std::uint32_t ignored = 0;
                return read_hex4(ignored);
            }
            default: return fail("invalid escape");
        }
    }

    // Syntax only, for strings inside skipped values: at the opening quote, steps past the
    // closing one. Plain bytes are scanned eight at a time.
    bool skip_string() {
        ++pos_;
        for (;;) {
            while (end_ - pos_ >= 8) {
                std::uint64_t word = 0;
                std::memcpy(&word, pos_, sizeof word);
                if (word_ends_plain_run(word)) {
                    break;
                }
                pos_ += 8;
            }
            while (pos_ != end_ && !ends_plain_run(*pos_)) {
                ++pos_;
            }
            if (pos_ == end_) {
                return fail("unterminated string");
            }
            if (*pos_ == '"') {
                ++pos_;
                return true;
            }
            if (*pos_ != '\\') {
                return fail("control character in string");
            }
            if (!skip_escape()) {
                return false;
            }
        }
    }

    // At a byte of 0x80 or above: steps over one well-formed UTF-8 sequence (no overlong form,
    // no surrogate, nothing above U+10FFFF).
    bool skip_utf8_sequence() {
        const auto lead = static_cast<unsigned char>(*pos_);
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;  // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return fail("invalid UTF-8");
        }
        if (end_ - pos_ < length) {
            return fail("invalid UTF-8");
        }
        for (int i = 1; i < length; ++i) {
            const auto b = static_cast<unsigned char>(pos_[i]);
            if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) {
                return fail("invalid UTF-8");
            }
        }
        pos_ += length;
        return true;
    }

    // At a backslash: decodes one escape, pairing surrogates.
    bool decode_escape(std::string& out) {
        ++pos_;
        if (pos_ == end_) {
            return fail("unterminated string");
        }
        const char c = *pos_++;
        switch (c) {
            case '"': out.push_back('"'); return true;
            case '\\': out.push_back('\\'); return true;
            case '/': out.push_back('/'); return true;
            case 'b': out.push_back('\b'); return true;
            case 'f': out.push_back('\f'); return true;
            case 'n': out.push_back('\n'); return true;
            case 'r': out.push_back('\r'); return true;
            case 't': out.push_back('\t'); return true;
            case 'u': break;
            default: --pos_; return fail("invalid escape");
        }
        std::uint32_t cp = 0;
        if (!read_hex4(cp)) {
            return false;
        }
        if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return fail("unpaired surrogate escape");
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (end_ - pos_ < 2 || pos_[0] != '\\' || pos_[1] != 'u') {
                return fail("unpaired surrogate escape");
            }
            pos_ += 2;
            if (!read_hex4(low)) {
                return false;
            }
            if (low < 0xDC00 || low > 0xDFFF) {
                return fail("unpaired surrogate escape");
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(out, cp);
        return true;
    }

    // A string whose text is used: at the opening quote, decodes it into `out`, requiring valid
    // UTF-8 and paired surrogate escapes.
    bool read_string(std::string& out) {
        out.clear();
        ++pos_;
        for (;;) {
            const char* plain_from = pos_;
            while (pos_ != end_) {
                const auto b = static_cast<unsigned char>(*pos_);
                if (b >= 0x80) {
                    if (!skip_utf8_sequence()) {
                        return false;
                    }
                } else if (ends_plain_run(*pos_)) {
                    break;
                } else {
                    ++pos_;
                }
            }
            out.append(plain_from, pos_);
            if (pos_ == end_) {
                return fail("unterminated string");
            }
            if (*pos_ == '"') {
                ++pos_;
                return true;
            }
            if (*pos_ != '\\') {
                return fail("control character in string");
            }
            if (!decode_escape(out)) {
                return false;
            }
        }
    }

    // Any number of the JSON grammar.
    bool skip_number() {
        if (at('-')) {
            ++pos_;
        }
        if (pos_ == end_ || !is_digit(*pos_)) {
            return fail("invalid number");
        }
        if (*pos_ == '0') {
            ++pos_;
        } else {
            while (pos_ != end_ && is_digit(*pos_)) ++pos_;
        }
        if (at('.')) {
            ++pos_;
            if (pos_ == end_ || !is_digit(*pos_)) {
                return fail("invalid number");
            }
            while (pos_ != end_ && is_digit(*pos_)) ++pos_;
        }
        if (at('e') || at('E')) {
            ++pos_;
            if (at('+') || at('-')) {
                ++pos_;
            }
            if (pos_ == end_ || !is_digit(*pos_)) {
                return fail("invalid number");
            }
            while (pos_ != end_ && is_digit(*pos_)) ++pos_;
        }
        return true;
    }

    // A plain non-negative integer that fits 64 bits: no sign, fraction or exponent.
    bool read_u64(std::uint64_t& value) {
        if (at('-')) {
            return fail("updated_unix must not be negative");
        }
        if (pos_ == end_ || !is_digit(*pos_)) {
            return fail("updated_unix must be an integer");
        }
        value = 0;
        if (*pos_ == '0') {
            ++pos_;
            if (pos_ != end_ && is_digit(*pos_)) {
                return fail("leading zero in number");
            }
        } else {
            constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
            while (pos_ != end_ && is_digit(*pos_)) {
                const auto digit = static_cast<std::uint64_t>(*pos_ - '0');
                if (value > (max - digit) / 10) {
                    return fail("updated_unix is too large");
                }
                value = value * 10 + digit;
                ++pos_;
            }
        }
        if (at('.') || at('e') || at('E')) {
            return fail("updated_unix must be a whole number without exponent");
        }
        return true;
    }

    // Inside a skipped object: a key (syntax only), the colon and the whitespace around it.
    bool skip_member_name() {
        if (!at('"')) {
            return fail("expected a member name");
        }
        if (!skip_string()) {
            return false;
        }
        skip_whitespace();
        if (!expect(':', "expected ':'")) {
            return false;
        }
        skip_whitespace();
        return true;
    }

    // Steps over one well-formed value of any kind and depth without looking at its content.
    bool skip_value() {
        open_.clear();
        for (;;) {
            // A value starts here.
            if (pos_ == end_) {
                return fail("unexpected end of text");
            }
            const char c = *pos_;
            if (c == '{' || c == '[') {
                ++pos_;
                skip_whitespace();
                const char close = c == '{' ? '}' : ']';
                if (at(close)) {
                    ++pos_;
                } else {
                    open_.push_back(close);
                    if (c == '{' && !skip_member_name()) {
                        return false;
                    }
                    continue;
                }
            } else if (c == '"') {
                if (!skip_string()) return false;
            } else if (c == 't') {
                if (!expect_literal("true")) return false;
            } else if (c == 'f') {
                if (!expect_literal("false")) return false;
            } else if (c == 'n') {
                if (!expect_literal("null")) return false;
            } else if (c == '-' || is_digit(c)) {
                if (!skip_number()) return false;
            } else {
                return fail("expected a value");
            }
            // A value has ended: close what it completes, then find the start of the next one.
            for (;;) {
                if (open_.empty()) {
                    return true;
                }
                skip_whitespace();
                if (at(open_.back())) {
                    ++pos_;
                    open_.pop_back();
                    continue;
                }
                if (!expect(',', "expected ',' or the end of the container")) {
                    return false;
                }
                skip_whitespace();
                if (open_.back() == '}' && !skip_member_name()) {
                    return false;
                }
                break;
            }
        }
    }

    // The phase name as a string, or an object whose single key is the name and whose value is
    // null.
    bool read_phase(UpdatePhase& phase) {
        const bool object_form = at('{');
        if (object_form) {
            ++pos_;
            skip_whitespace();
        }
        if (!at('"')) {
            return fail("phase must be a phase name");
        }
        const char* name_at = pos_;
        if (!read_string(scratch_)) {
            return false;
        }
        const auto named = phase_from_name(scratch_);
        if (!named) {
            return fail_at(name_at, "unknown phase");
        }
        if (object_form) {
            skip_whitespace();
            if (!expect(':', "expected ':'")) {
                return false;
            }
            skip_whitespace();
            if (!at('n') || !expect_literal("null")) {
                return fail("phase member value must be null");
            }
            skip_whitespace();
            if (!expect('}', "phase object must have exactly one member")) {
                return false;
            }
        }
        phase = *named;
        return true;
    }

    bool read_field(int field, UpdateStateFile& state) {
        switch (field) {
            case field_phase: return read_phase(state.phase);
            case field_current_version:
                if (!at('"')) {
                    return fail("current_version must be a string");
                }
                return read_string(state.current_version);
            case field_updated_unix: return read_u64(state.updated_unix);
            default: break;
        }
        std::optional<std::string>& text = *optional_text(state, field);
        if (at('"')) {
            return read_string(text.emplace());
        }
        if (at('n')) {
            text.reset();
            return expect_literal("null");
        }
        return fail("expected a string or null");
    }

    bool read_object_form(UpdateStateFile& state) {
        std::array<bool, field_keys.size()> seen{};
        ++pos_;
        skip_whitespace();
        if (at('}')) {
            ++pos_;
        } else {
            for (;;) {
                if (!at('"')) {
                    return fail("expected a member name");
                }
                const char* key_at = pos_;
                if (!read_string(scratch_)) {
                    return false;
                }
                skip_whitespace();
                if (!expect(':', "expected ':'")) {
                    return false;
                }
                skip_whitespace();
                const int field = field_index(scratch_);
                if (field < 0) {
                    if (!skip_value()) {
                        return false;
                    }
                } else {
                    if (seen[static_cast<std::size_t>(field)]) {
                        return fail_at(key_at, "repeated member");
                    }
                    seen[static_cast<std::size_t>(field)] = true;
                    if (!read_field(field, state)) {
                        return false;
                    }
                }
                skip_whitespace();
                if (at(',')) {
                    ++pos_;
                    skip_whitespace();
                    continue;
                }
                if (!expect('}', "expected ',' or '}'")) {
                    return false;
                }
                break;
            }
        }
        if (!seen[field_phase]) return fail("missing phase");
        if (!seen[field_current_version]) return fail("missing current_version");
        if (!seen[field_updated_unix]) return fail("missing updated_unix");
        return true;
    }

    bool read_array_form(UpdateStateFile& state) {
        ++pos_;
        skip_whitespace();
        for (int field = 0; field < static_cast<int>(field_keys.size()); ++field) {
            if (field > 0) {
                if (!expect(',', "array form must have seven elements")) {
                    return false;
                }
                skip_whitespace();
            }
            if (!read_field(field, state)) {
                return false;
            }
            skip_whitespace();
        }
        return expect(']', "array form must have seven elements");
    }
};

}  // namespace

std::expected<std::string, std::string> state_to_json(const UpdateStateFile& state) {
    try {
        std::string out;
        out.reserve(128);
        append_key(out, field_phase);
        append_json_string(out, phase_name(state.phase));
        append_key(out, field_current_version);
        append_json_string(out, state.current_version);
        append_key(out, field_candidate_version);
        append_optional_text(out, state.candidate_version);
        append_key(out, field_staged_msi);
        append_optional_text(out, state.staged_msi);
        append_key(out, field_last_error);
        append_optional_text(out, state.last_error);
        append_key(out, field_last_accepted_version);
        append_optional_text(out, state.last_accepted_version);
        append_key(out, field_updated_unix);
        char digits[20];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, state.updated_unix).ptr);
        out.append("\n}");
        return out;
    } catch (const std::exception&) {
        // Only allocation can fail here; the text fits the small-string buffer, as below.
        return std::unexpected(std::string("out of memory"));
    }
}

std::expected<UpdateStateFile, std::string> state_from_json(std::string_view bytes) {
    try {
        return Reader(bytes).read();
    } catch (const std::exception&) {
        // Only allocation can fail here. The text fits the small-string buffer of every standard
        // library, so making it allocates nothing.
        return std::unexpected(std::string("out of memory"));
    }
}

}  // namespace tevra

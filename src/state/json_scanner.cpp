// The JSON scanner: tokens, strings with their escapes and UTF-8, numbers, and skipping of whole
// values with an explicit stack. Built at -O2 in the size-optimised Windows program: the loops
// over strings and skipped values are where reading spends its time.
#include "state/json_scanner.hpp"

#include "common/utf.hpp"

#include <charconv>
#include <cstring>
#include <limits>

namespace tevra {

namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

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
    const std::uint64_t found =
        ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash) | ((word - ones * 0x20) & ~word);
    return (found & highs) != 0;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The tokens below step `pos` over their part of the text and return nullptr, or return what is
// wrong with `pos` left where it is wrong. They are file-local so that the loops of read_string
// and skip_value take them in whole.

// Four hex digits after "\u".
const char* read_hex4(const char*& pos, const char* end, std::uint32_t& value) {
    if (end - pos < 4) return "incomplete \\u escape";
    value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(pos[i]);
        if (digit < 0) return "invalid \\u escape";
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    pos += 4;
    return nullptr;
}

// Exactly `word` (true, false, null).
const char* skip_literal(const char*& pos, const char* end, std::string_view word) {
    if (static_cast<std::size_t>(end - pos) < word.size() || std::memcmp(pos, word.data(), word.size()) != 0)
        return "invalid literal";
    pos += word.size();
    return nullptr;
}

// Syntax only: at a backslash, steps over one valid escape.
const char* skip_escape(const char*& pos, const char* end) {
    ++pos;
    if (pos == end) return "unterminated string";
    switch (*pos) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't': ++pos; return nullptr;
        case 'u': {
            ++pos;
            std::uint32_t ignored = 0;
            return read_hex4(pos, end, ignored);
        }
        default: return "invalid escape";
    }
}

// Syntax only, for strings inside skipped values: at the opening quote, steps past the closing
// one. Plain bytes are scanned eight at a time.
const char* skip_string(const char*& pos, const char* end) {
    ++pos;
    for (;;) {
        while (end - pos >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, pos, sizeof word);
            if (word_ends_plain_run(word)) break;
            pos += 8;
        }
        while (pos != end && !ends_plain_run(*pos)) ++pos;
        if (pos == end) return "unterminated string";
        if (*pos == '"') {
            ++pos;
            return nullptr;
        }
        if (*pos != '\\') return "control character in string";
        if (const char* problem = skip_escape(pos, end)) return problem;
    }
}

// At a byte of 0x80 or above: steps over one well-formed UTF-8 sequence (no overlong form, no
// surrogate, nothing above U+10FFFF).
const char* skip_utf8_sequence(const char*& pos, const char* end) {
    const auto lead = static_cast<unsigned char>(*pos);
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
        return "invalid UTF-8";
    }
    if (end - pos < length) return "invalid UTF-8";
    for (int i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(pos[i]);
        if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return "invalid UTF-8";
    }
    pos += length;
    return nullptr;
}

// At a backslash: decodes one escape into `out`, pairing surrogates.
const char* decode_escape(const char*& pos, const char* end, std::string& out) {
    ++pos;
    if (pos == end) return "unterminated string";
    const char c = *pos++;
    switch (c) {
        case '"': out.push_back('"'); return nullptr;
        case '\\': out.push_back('\\'); return nullptr;
        case '/': out.push_back('/'); return nullptr;
        case 'b': out.push_back('\b'); return nullptr;
        case 'f': out.push_back('\f'); return nullptr;
        case 'n': out.push_back('\n'); return nullptr;
        case 'r': out.push_back('\r'); return nullptr;
        case 't': out.push_back('\t'); return nullptr;
        case 'u': break;
        default: --pos; return "invalid escape";
    }
    std::uint32_t cp = 0;
    if (const char* problem = read_hex4(pos, end, cp)) return problem;
    if (cp >= 0xDC00 && cp <= 0xDFFF) return "unpaired surrogate escape";
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        std::uint32_t low = 0;
        if (end - pos < 2 || pos[0] != '\\' || pos[1] != 'u') return "unpaired surrogate escape";
        pos += 2;
        if (const char* problem = read_hex4(pos, end, low)) return problem;
        if (low < 0xDC00 || low > 0xDFFF) return "unpaired surrogate escape";
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, cp);
    return nullptr;
}

// Any number of the JSON grammar.
const char* skip_number(const char*& pos, const char* end) {
    if (pos != end && *pos == '-') ++pos;
    if (pos == end || !is_digit(*pos)) return "invalid number";
    if (*pos == '0')
        ++pos;
    else
        while (pos != end && is_digit(*pos)) ++pos;
    if (pos != end && *pos == '.') {
        ++pos;
        if (pos == end || !is_digit(*pos)) return "invalid number";
        while (pos != end && is_digit(*pos)) ++pos;
    }
    if (pos != end && (*pos == 'e' || *pos == 'E')) {
        ++pos;
        if (pos != end && (*pos == '+' || *pos == '-')) ++pos;
        if (pos == end || !is_digit(*pos)) return "invalid number";
        while (pos != end && is_digit(*pos)) ++pos;
    }
    return nullptr;
}

}  // namespace

bool JsonScanner::fail_at(std::size_t offset, std::string_view what) {
    const char* where = begin_ + offset;
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

bool JsonScanner::expect_literal(std::string_view word) { return check(skip_literal(pos_, end_, word)); }

bool JsonScanner::read_string(std::string& out) {
    out.clear();
    ++pos_;
    for (;;) {
        const char* plain_from = pos_;
        while (pos_ != end_) {
            const auto b = static_cast<unsigned char>(*pos_);
            if (b >= 0x80) {
                if (!check(skip_utf8_sequence(pos_, end_))) return false;
            } else if (ends_plain_run(*pos_)) {
                break;
            } else {
                ++pos_;
            }
        }
        out.append(plain_from, pos_);
        if (pos_ == end_) return fail("unterminated string");
        if (*pos_ == '"') {
            ++pos_;
            return true;
        }
        if (*pos_ != '\\') return fail("control character in string");
        if (!check(decode_escape(pos_, end_, out))) return false;
    }
}

bool JsonScanner::read_member_name(std::string& name) {
    if (!at('"')) return fail("expected a member name");
    return read_string(name) && expect_colon();
}

std::expected<std::uint64_t, IntegerProblem> JsonScanner::read_u64() {
    if (at('-')) return std::unexpected(IntegerProblem::negative);
    if (pos_ == end_ || !is_digit(*pos_)) return std::unexpected(IntegerProblem::not_a_number);
    std::uint64_t value = 0;
    if (*pos_ == '0') {
        ++pos_;
        if (pos_ != end_ && is_digit(*pos_)) return std::unexpected(IntegerProblem::leading_zero);
    } else {
        constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        while (pos_ != end_ && is_digit(*pos_)) {
            const auto digit = static_cast<std::uint64_t>(*pos_ - '0');
            if (value > (max - digit) / 10) return std::unexpected(IntegerProblem::too_large);
            value = value * 10 + digit;
            ++pos_;
        }
    }
    if (at('.') || at('e') || at('E')) return std::unexpected(IntegerProblem::not_whole);
    return value;
}

// Inside a skipped object: a name (syntax only), the colon and the whitespace around it.
bool JsonScanner::skip_member_name() {
    if (!at('"')) return fail("expected a member name");
    return check(skip_string(pos_, end_)) && expect_colon();
}

bool JsonScanner::skip_value() {
    closing_brackets_.clear();
    for (;;) {
        // A value starts here.
        if (pos_ == end_) return fail("unexpected end of text");
        const char c = *pos_;
        if (c == '{' || c == '[') {
            ++pos_;
            skip_whitespace();
            const char close = c == '{' ? '}' : ']';
            if (at(close)) {
                ++pos_;
            } else {
                closing_brackets_.push_back(close);
                if (c == '{' && !skip_member_name()) return false;
                continue;
            }
        } else if (c == '"') {
            if (!check(skip_string(pos_, end_))) return false;
        } else if (c == 't') {
            if (!check(skip_literal(pos_, end_, "true"))) return false;
        } else if (c == 'f') {
            if (!check(skip_literal(pos_, end_, "false"))) return false;
        } else if (c == 'n') {
            if (!check(skip_literal(pos_, end_, "null"))) return false;
        } else if (c == '-' || is_digit(c)) {
            if (!check(skip_number(pos_, end_))) return false;
        } else {
            return fail("expected a value");
        }
        // A value has ended: close what it completes, then find the start of the next one.
        for (;;) {
            if (closing_brackets_.empty()) return true;
            skip_whitespace();
            if (at(closing_brackets_.back())) {
                ++pos_;
                closing_brackets_.pop_back();
                continue;
            }
            if (!expect(',', "expected ',' or the end of the container")) return false;
            skip_whitespace();
            if (closing_brackets_.back() == '}' && !skip_member_name()) return false;
            break;
        }
    }
}

}  // namespace tevra

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

void JsonScanner::skip_whitespace() {
    while (pos_ != end_ && is_whitespace(*pos_)) {
        ++pos_;
    }
}

bool JsonScanner::expect(char c, std::string_view what) {
    if (!at(c)) {
        return fail(what);
    }
    ++pos_;
    return true;
}

bool JsonScanner::expect_colon() {
    skip_whitespace();
    if (!expect(':', "expected ':'")) {
        return false;
    }
    skip_whitespace();
    return true;
}

bool JsonScanner::expect_literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - pos_) < word.size() ||
        std::memcmp(pos_, word.data(), word.size()) != 0) {
        return fail("invalid literal");
    }
    pos_ += word.size();
    return true;
}

// Four hex digits after "\u".
bool JsonScanner::read_hex4(std::uint32_t& value) {
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
bool JsonScanner::skip_escape() {
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

// Syntax only, for strings inside skipped values: at the opening quote, steps past the closing
// one. Plain bytes are scanned eight at a time.
bool JsonScanner::skip_string() {
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

// At a byte of 0x80 or above: steps over one well-formed UTF-8 sequence (no overlong form, no
// surrogate, nothing above U+10FFFF).
bool JsonScanner::skip_utf8_sequence() {
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
bool JsonScanner::decode_escape(std::string& out) {
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

bool JsonScanner::read_string(std::string& out) {
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

bool JsonScanner::read_member_name(std::string& name) {
    if (!at('"')) {
        return fail("expected a member name");
    }
    return read_string(name) && expect_colon();
}

// Any number of the JSON grammar.
bool JsonScanner::skip_number() {
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

std::expected<std::uint64_t, IntegerProblem> JsonScanner::read_u64() {
    if (at('-')) {
        return std::unexpected(IntegerProblem::negative);
    }
    if (pos_ == end_ || !is_digit(*pos_)) {
        return std::unexpected(IntegerProblem::not_a_number);
    }
    std::uint64_t value = 0;
    if (*pos_ == '0') {
        ++pos_;
        if (pos_ != end_ && is_digit(*pos_)) {
            return std::unexpected(IntegerProblem::leading_zero);
        }
    } else {
        constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        while (pos_ != end_ && is_digit(*pos_)) {
            const auto digit = static_cast<std::uint64_t>(*pos_ - '0');
            if (value > (max - digit) / 10) {
                return std::unexpected(IntegerProblem::too_large);
            }
            value = value * 10 + digit;
            ++pos_;
        }
    }
    if (at('.') || at('e') || at('E')) {
        return std::unexpected(IntegerProblem::not_whole);
    }
    return value;
}

// Inside a skipped object: a name (syntax only), the colon and the whitespace around it.
bool JsonScanner::skip_member_name() {
    if (!at('"')) {
        return fail("expected a member name");
    }
    return skip_string() && expect_colon();
}

bool JsonScanner::skip_value() {
    closing_brackets_.clear();
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
                closing_brackets_.push_back(close);
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
            if (closing_brackets_.empty()) {
                return true;
            }
            skip_whitespace();
            if (at(closing_brackets_.back())) {
                ++pos_;
                closing_brackets_.pop_back();
                continue;
            }
            if (!expect(',', "expected ',' or the end of the container")) {
                return false;
            }
            skip_whitespace();
            if (closing_brackets_.back() == '}' && !skip_member_name()) {
                return false;
            }
            break;
        }
    }
}

}  // namespace tevra

// Portable: a strict, schema-free JSON scanner over one text, for readers that know their schema.
//
// The reader built on it walks the text and asks for one token at a time. Every reading function
// returns false after recording the first error ("<what> at line L column C"); the caller then stops
// at once, so nothing after the first breach is looked at. Nothing here recurses: skipped values
// keep their open containers on the heap, so any nesting depth costs only memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tevra {

// Why a plain non-negative integer could not be read. The caller words the error, since only it
// knows what the number stands for.
enum class IntegerProblem : std::uint8_t {
    negative,      // a minus sign
    not_a_number,  // no digit where the value starts
    leading_zero,  // a digit after a leading 0
    too_large,     // more than 64 bits
    not_whole,     // a fraction or an exponent follows the digits
};

class JsonScanner {
public:
    explicit JsonScanner(std::string_view text)
        : begin_(text.data()), pos_(text.data()), end_(text.data() + text.size()) {}

    bool at_end() const { return pos_ == end_; }
    bool at(char c) const { return pos_ != end_ && *pos_ == c; }
    // Steps over the byte that at() has just recognised.
    void advance() { ++pos_; }
    // Where the scanner stands, to report an error there later (fail_at).
    std::size_t offset() const { return static_cast<std::size_t>(pos_ - begin_); }

    // JSON's whitespace: space, tab, line feed and carriage return.
    void skip_whitespace() {
        while (pos_ != end_ && (*pos_ == ' ' || *pos_ == '\t' || *pos_ == '\n' || *pos_ == '\r')) ++pos_;
    }

    // Steps over `c`, or fails with `what`.
    bool expect(char c, std::string_view what) {
        if (!at(c)) return fail(what);
        ++pos_;
        return true;
    }
    // Whitespace, the ':' between a member's name and its value, and whitespace.
    bool expect_colon() {
        skip_whitespace();
        if (!expect(':', "expected ':'")) return false;
        skip_whitespace();
        return true;
    }
    // Steps over exactly `word` (true, false, null).
    bool expect_literal(std::string_view word);

    // At the opening quote: decodes the string into `out`, requiring valid UTF-8 and paired
    // surrogate escapes.
    bool read_string(std::string& out);
    // At a member's name: reads it like read_string, then expect_colon().
    bool read_member_name(std::string& name);
    // Steps over one well-formed value of any kind and depth. Syntax only: its strings need not be
    // valid UTF-8 and their surrogate escapes need not pair.
    bool skip_value();
    // A plain non-negative integer that fits 64 bits: no sign, fraction or exponent. On failure
    // nothing is recorded, and the scanner stands where the problem lies.
    std::expected<std::uint64_t, IntegerProblem> read_u64();

    // Records "<what> at line L column C" for the current position, or for an earlier offset();
    // both return false. A later failure replaces an earlier one.
    bool fail(std::string_view what) { return fail_at(offset(), what); }
    bool fail_at(std::size_t offset, std::string_view what);
    std::string take_error() { return std::move(error_); }

private:
    const char* begin_;
    const char* pos_;
    const char* end_;
    std::string error_;
    std::vector<char> closing_brackets_;  // of the containers open while skipping, innermost last

    // Records `problem` at the current position, if there is one: the tokens of json_scanner.cpp
    // report what is wrong and leave the scanner where it is wrong.
    bool check(const char* problem) { return problem == nullptr || fail(problem); }
    bool skip_member_name();
};

}  // namespace tevra

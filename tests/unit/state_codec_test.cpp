// The state file's text: exact writing, strict reading that tells where it stops, and writing back what was read.
#include "state/state_codec.hpp"

#include <gtest/gtest.h>

#include <limits>

using namespace std::string_literals;
using tevra::UpdatePhase;
using tevra::UpdateStateFile;

namespace {

constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

using Text = std::optional<std::string>;

UpdateStateFile record(UpdatePhase phase, std::string current, std::uint64_t unix_time, Text candidate = {},
                       Text staged = {}, Text error = {}, Text accepted = {}) {
    return {
        phase,    std::move(current), std::move(candidate), std::move(staged), std::move(error), std::move(accepted),
        unix_time};
}

// The error, or "" when there is none.
template <class T>
std::string error_of(const std::expected<T, std::string>& result) {
    return result ? "" : result.error();
}

// Writing a record and reading it back gives the record.
void expect_round_trip(const UpdateStateFile& state) {
    const std::string text = tevra::state_to_json(state);
    EXPECT_TRUE(tevra::state_from_json(text) == state) << text;
}

TEST(Writer, OneMemberPerLineInFieldOrderAndEscapesOnlyWhatMust) {
    EXPECT_EQ(
        tevra::state_to_json(record(UpdatePhase::rollback_required, "2.0", u64_max, "2.1", "C:\\u\\p.msi", {}, "")),
        R"({
  "phase": "rollback_required",
  "current_version": "2.0",
  "candidate_version": "2.1",
  "staged_msi": "C:\\u\\p.msi",
  "last_error": null,
  "last_accepted_version": "",
  "updated_unix": 18446744073709551615
})");
    const std::pair<std::string, std::string> escapes[] = {
        {"\"\\/", R"("\"\\/")"},
        {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
        {"\0\x01\x1f"s, R"("\u0000\u0001\u001f")"},
        {"\x20\x7f\xC3\xA9\xF0\x9F\x98\x80", "\" \x7f\xC3\xA9\xF0\x9F\x98\x80\""},
    };
    for (const auto& [text, escaped] : escapes)
        EXPECT_TRUE(tevra::state_to_json(record(UpdatePhase::idle, text, 0))
                        .contains("\"current_version\": " + escaped + ",\n"))
            << escaped;
}

TEST(UnixTime, FromFiletimeClampedAt1970) {
    constexpr std::uint64_t epoch = 116444736000000000ULL;
    const std::uint64_t cases[][2] = {
        {0, 0}, {epoch - 1, 0}, {epoch + 9999999, 0}, {epoch + 10000000, 1}, {u64_max, (u64_max - epoch) / 10000000}};
    for (const auto& [filetime, unix_time] : cases) EXPECT_EQ(tevra::unix_time_from_filetime(filetime), unix_time);
}

// A valid record with `member` (empty, or one member and a comma) inserted before its members, and
// valid records whose phase (from column 10), current_version (from column 35) or updated_unix
// (from column 54) is `value`.
#define WITH(member) "{" member "\"phase\":\"idle\",\"current_version\":\"1\",\"updated_unix\":5}"
#define PHASE(value) "{\"phase\":" value ",\"current_version\":\"1\",\"updated_unix\":5}"
#define VERSION(value) "{\"phase\":\"idle\",\"current_version\":" value ",\"updated_unix\":5}"
#define TIME(value) "{\"phase\":\"idle\",\"current_version\":\"1\",\"updated_unix\":" value "}"

#define UTF8_EDGES \
    "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"

TEST(Reader, AcceptsRecordsThatRoundTrip) {
    const struct {
        std::string_view text;
        UpdateStateFile expected;
    } cases[] = {
        {" \r\n\t{ \"updated_unix\" : 5 ,\r\n \"current_version\":\"1.2.3\",\t\"phase\"\n:\"healthy\" } \n\r\t ",
         record(UpdatePhase::healthy, "1.2.3", 5)},
        {R"({"phase":"applying","current_version":"","candidate_version":"2","staged_msi":"C:\\u\\p.msi",)"
         R"("last_error":null,"last_accepted_version":"","updated_unix":0})",
         record(UpdatePhase::applying, "", 0, "2", "C:\\u\\p.msi", {}, "")},
        // Every escape, hex digits in both cases, and the surrogate pairs at both ends.
        {VERSION(R"("\"\\\/\b\f\n\r\t\u0000\u00e9\u00C9\u00aA\uD7FF\uE000\ud800\udc00\uDBFF\uDFFF")"),
         record(UpdatePhase::idle,
                "\"\\/\b\f\n\r\t\0\xC3\xA9\xC3\x89\xC2\xAA\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"s,
                5)},
        {R"({"ph\u0061se":"failed","current_v\u0065rsion":"1","updated_unix":5})", record(UpdatePhase::failed, "1", 5)},
        // Raw UTF-8 at the edges of each length and of the surrogate gap.
        {VERSION("\"" UTF8_EDGES "\""), record(UpdatePhase::idle, UTF8_EDGES, 5)},
        // Skipped: every kind of value, nested, with whitespace everywhere; strings longer than
        // eight bytes; bad UTF-8 and lone surrogates; an unknown key that repeats.
        {WITH("\"extra\":[{\"a\":1,\"a\":[true,false,null,-0.5e+3,0,-0,1E-0,12.50e9,\"\\ud800\xFF\xC0\"]},{}],"
              "\"extra\" : { \"\\udfff\xFE\" : [ [ ] , { } ] , \"b\" : { \"c\" : [ 1 ] } } ,"
              "\"\xC3\xA9\":\"a long skipped string, \\\"quoted\\\" and \\\\ \\u0041 more\",\"z\":\"\","),
         record(UpdatePhase::idle, "1", 5)},
        {R"({"phase": { "rollback_required" : null },"current_version":"1","updated_unix":2})",
         record(UpdatePhase::rollback_required, "1", 2)},
        {TIME("18446744073709551615"), record(UpdatePhase::idle, "1", u64_max)},
        {R"([ "downloaded", "1", null, "m.msi", "e", null, 18446744073709551615 ])",
         record(UpdatePhase::downloaded, "1", u64_max, {}, "m.msi", "e")},
        {R"([{"failed":null},"",null,null,null,"9",0])", record(UpdatePhase::failed, "", 0, {}, {}, {}, "9")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto result = tevra::state_from_json(c.text);
        EXPECT_EQ(error_of(result), "");
        EXPECT_TRUE(result == c.expected);
        expect_round_trip(c.expected);
    }
}

// The program only asks whether a text is accepted: each row pins where reading stops, a few the wording too.
TEST(Reader, RejectsWhereTheBreachIs) {
    const struct {
        std::string_view text;
        int line, column;
        std::string_view what = {};
    } cases[] = {
        // The value as a whole.
        {" \n\t\r", 2, 3, "empty text"},
        {"\xEF\xBB\xBF" WITH(""), 1, 1},
        {WITH("") ",", 1, 56},
        {"{\r\n  \"phase\": 7}", 2, 12},
        // Members of the record's object.
        {"{}", 1, 3, "missing phase"},
        {R"({"phase":"idle","updated_unix":5})", 1, 34},
        {R"({"phase":"idle","current_version":"1"})", 1, 39, "missing updated_unix"},
        {R"({"phase":"idle","current_version":"1","updated_unix":5,})", 1, 56},
        {R"({"phase" "idle","current_version":"1","updated_unix":5})", 1, 10},
        {R"({"phase":"idle" "current_version":"1","updated_unix":5})", 1, 17},
        {WITH("\"phase\":\"idle\","), 1, 17, "repeated member"},
        {WITH("\"staged_msi\":null,\"staged_msi\":null,"), 1, 20},
        {WITH("\"phas\\u0065\":\"idle\","), 1, 22},
        // Values of the fields.
        {PHASE(R"("Idle")"), 1, 10},
        {PHASE("null"), 1, 10},
        {PHASE(R"({"x":null})"), 1, 11},
        {PHASE(R"({"idle" null})"), 1, 18},
        {PHASE(R"({"idle":0})"), 1, 18},
        {PHASE(R"({"idle":null,"x":null})"), 1, 22},
        {VERSION("null"), 1, 35},
        {WITH("\"last_error\":false,"), 1, 15},
        {TIME("-1"), 1, 54},
        {TIME("1.0"), 1, 55},
        {TIME("1e9"), 1, 55},
        {TIME("05"), 1, 55},
        {TIME("18446744073709551616"), 1, 73, "updated_unix is too large"},
        {TIME("\"5\""), 1, 54},
        // The array form.
        {R"(["idle","1",null,null,null,null])", 1, 32},
        {R"(["idle","1",null,null,null,null,5,null])", 1, 34},
        {"[]", 1, 2},
        // Strings that are read.
        {VERSION("\"a\\x\""), 1, 38},
        {VERSION("\"\\u12G4\""), 1, 38},
        {"{\"phase\":\"\\u12", 1, 13},
        {"{\"phase\":\"\\u1234", 1, 17},
        {"{\"phase\":\"\\ud83d\\u", 1, 19},
        {VERSION("\"a\x1F\""), 1, 37},
        {VERSION("\"\\ud83d\""), 1, 42, "unpaired surrogate escape"},
        {VERSION("\"\\ud83dxudc00\""), 1, 42},
        {VERSION("\"\\udc00\""), 1, 42},
        {VERSION("\"\\udfff\""), 1, 42},
        {VERSION("\"\\udbff\\udbff\""), 1, 48},
        {VERSION("\"\\ud800\\u12G4\""), 1, 44},
        {VERSION("\"\xC1\xBF\""), 1, 36},
        {VERSION("\"\xE0\x9F\xBF\""), 1, 36},
        {VERSION("\"\xF0\x8F\xBF\xBF\""), 1, 36},
        {VERSION("\"\xED\xA0\x80\""), 1, 36},
        {VERSION("\"\xF4\x90\x80\x80\""), 1, 36},
        {VERSION("\"\xE2\x82\xC0\""), 1, 36},
        {"{\"phase\":\"\xF0\x9F\x98", 1, 11},
        {"{\"phase\":\"\xC3\xA9", 1, 13},
        {VERSION("\"\x80\""), 1, 36},
        {VERSION("\"\xF5\x80\x80\x80\""), 1, 36},
        {WITH("\"\xC3(\":1,"), 1, 3},
        // Skipped values: syntax only, but all of it.
        {WITH("\"x\":\"a long string with \\a bad escape\","), 1, 27},
        {WITH("\"x\":\"a long string with a \x1F control\","), 1, 28},
        {"{\"x\":\"a long string that never ends", 1, 36},
        {WITH("\"x\":01,"), 1, 7},
        {WITH("\"x\":-,"), 1, 7},
        {WITH("\"x\":1.,"), 1, 8},
        {WITH("\"x\":1e+,"), 1, 9},
        {WITH("\"x\":[tru],"), 1, 7},
        {WITH("\"x\":[1},"), 1, 8, "expected ',' or the end of the container"},
        {WITH("\"x\":[{\"a\":[1]]},"), 1, 15},
        {WITH("\"x\":{\"a\":1,},"), 1, 13},
        {WITH("\"x\":{\"a\" 1},"), 1, 11},
        {"{\"x\":true", 1, 10},
    };
    for (const auto& c : cases) {
        const std::string error = error_of(tevra::state_from_json(c.text));
        const std::string where = " at line " + std::to_string(c.line) + " column " + std::to_string(c.column);
        const bool as_expected = c.what.empty() ? error.ends_with(where) : error == std::string(c.what) + where;
        EXPECT_TRUE(as_expected) << c.text << ": " << error;
    }
}

TEST(Reader, DeepNestingNeverOverflowsTheStack) {
    const std::string deep(1000000, '[');
    const std::string closed = std::string(100000, '[') + std::string(100000, ']');
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    objects += "1" + std::string(100000, '}');
    EXPECT_EQ(error_of(tevra::state_from_json("{\"x\":" + deep)), "unexpected end of text at line 1 column 1000006");
    EXPECT_EQ(error_of(tevra::state_from_json(WITH("\"x\":" + closed + ","))), "");
    EXPECT_EQ(error_of(tevra::state_from_json(WITH("\"x\":" + objects + ","))), "");
}

}  // namespace

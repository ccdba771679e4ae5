// The state file's text: exact writing, strict reading, and writing back what was read.
#include "state/state_codec.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;
using tevra::UpdatePhase;
using tevra::UpdateStateFile;

// Allocation failure on demand: while `allocations_left` is not negative, each allocation uses
// one unit of it, and an allocation with none left throws std::bad_alloc.
namespace {
long allocations_left = -1;
}

// GCC pairs the inlined free() below with the `new` expressions of the library and warns.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    if (allocations_left == 0) throw std::bad_alloc();
    if (allocations_left > 0) --allocations_left;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

using Text = std::optional<std::string>;

UpdateStateFile record(UpdatePhase phase, std::string current, std::uint64_t unix_time,
                       Text candidate = {}, Text staged = {}, Text error = {}, Text accepted = {}) {
    return {phase, std::move(current), std::move(candidate), std::move(staged),
            std::move(error), std::move(accepted), unix_time};
}

// Writing a record and reading it back gives the record; writing that gives the same bytes.
void expect_round_trip(const UpdateStateFile& state) {
    const std::string text = tevra::state_to_json(state).value();
    const auto again = tevra::state_from_json(text);
    ASSERT_TRUE(again.has_value()) << again.error() << "\n" << text;
    EXPECT_EQ(*again, state);
    EXPECT_EQ(tevra::state_to_json(*again), text);
}

TEST(UnixTime, FromFiletime) {
    constexpr std::uint64_t epoch = 116444736000000000ULL;
    const struct { std::uint64_t filetime, unix_time; } cases[] = {
        {0, 0},
        {epoch - 1, 0},
        {epoch, 0},
        {epoch + 9999999, 0},
        {epoch + 10000000, 1},
        {epoch + 1700000000ULL * 10000000 + 9999999, 1700000000},
        {u64_max, (u64_max - epoch) / 10000000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tevra::unix_time_from_filetime(c.filetime), c.unix_time) << c.filetime;
    }
}

TEST(PhaseNames, ExactMatchOnly) {
    for (int i = 0; i < 7; ++i) {
        const auto phase = static_cast<UpdatePhase>(i);
        EXPECT_EQ(tevra::phase_from_name(tevra::phase_name(phase)), phase);
    }
    for (std::string_view name : {"Idle"sv, "idle "sv, ""sv, "fail"sv, "failed\0"sv}) {
        EXPECT_FALSE(tevra::phase_from_name(name).has_value()) << name;
    }
}

TEST(Writer, DefaultRecordExactText) {
    const std::string text = tevra::state_to_json(tevra::default_state_at(1700000000)).value();
    EXPECT_EQ(text,
              "{\n"
              "  \"phase\": \"idle\",\n"
              "  \"current_version\": \"0.1.1\",\n"
              "  \"candidate_version\": null,\n"
              "  \"staged_msi\": null,\n"
              "  \"last_error\": null,\n"
              "  \"last_accepted_version\": null,\n"
              "  \"updated_unix\": 1700000000\n"
              "}");
    EXPECT_EQ(text.size(), 187u);
}

TEST(Writer, EscapesOnlyQuoteBackslashAndControlBytes) {
    const auto state = record(UpdatePhase::failed, "", u64_max, "", {},
                              std::string("a\tb\nc\"d\\e\x01 f/g\x7Fh\xC3\xA9\x1F\b\f\r\0z", 24));
    const std::string text = tevra::state_to_json(state).value();
    EXPECT_NE(text.find(R"("current_version": "",)"), std::string::npos);
    EXPECT_NE(text.find(R"("candidate_version": "",)"), std::string::npos);
    EXPECT_NE(text.find("\"last_error\": \"a\\tb\\nc\\\"d\\\\e\\u0001 f/g\x7Fh\xC3\xA9"
                        "\\u001f\\b\\f\\r\\u0000z\","),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"updated_unix\": 18446744073709551615\n}"), std::string::npos);
    expect_round_trip(state);
}

struct Accepted {
    const char* name;
    std::string text;
    UpdateStateFile expected;
};
void PrintTo(const Accepted& c, std::ostream* out) { *out << c.name; }

class ReaderAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(ReaderAccepts, GivesRecordAndRoundTrips) {
    const auto result = tevra::state_from_json(GetParam().text);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(*result, GetParam().expected);
    expect_round_trip(*result);
}

const UpdateStateFile healthy_123_5 = record(UpdatePhase::healthy, "1.2.3", 5);

INSTANTIATE_TEST_SUITE_P(
    Texts, ReaderAccepts,
    testing::Values(
        Accepted{"WrittenDefault", tevra::state_to_json(tevra::default_state_at(1700000000)).value(),
                 tevra::default_state_at(1700000000)},
        Accepted{"RequiredOnly", R"({"phase":"healthy","current_version":"1.2.3","updated_unix":5})",
                 healthy_123_5},
        Accepted{"AnyOrderAndWhitespace",
                 " \r\n\t{ \"updated_unix\" : 5 ,\r\n \"current_version\":\"1.2.3\",\t\"phase\"\n:"
                 "\"healthy\" } \n\r\t ",
                 healthy_123_5},
        Accepted{"AllFields",
                 R"({"phase":"applying","current_version":"","candidate_version":"2","staged_msi":)"
                 R"("C:\\u\\p.msi","last_error":null,"last_accepted_version":"","updated_unix":0})",
                 record(UpdatePhase::applying, "", 0, "2", "C:\\u\\p.msi", {}, "")},
        Accepted{"EscapesDecoded",
                 R"({"ph\u0061se":"idle","current_version":"\u00e9\uD83D\uDE00\/\u0000\"","updated_unix":1})",
                 record(UpdatePhase::idle, std::string("\xC3\xA9\xF0\x9F\x98\x80/\0\"", 9), 1)},
        Accepted{"RawUtf8Limits",
                 "{\"phase\":\"idle\",\"current_version\":\"\xC2\x80\xED\x9F\xBF\xEE\x80\x80"
                 "\xF4\x8F\xBF\xBF\x7F\",\"updated_unix\":1}",
                 record(UpdatePhase::idle, "\xC2\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF\x7F", 1)},
        Accepted{"SkippedMembers",
                 "{\"extra\":[{\"a\":1,\"a\":[true,false,null,-0.5e+3,\"\\ud800\xFF\xC0\"]},{}],"
                 "\"phase\":\"healthy\",\"extra\":{\"\\udfff\xFE\":[[]]},\"current_version\":\"1.2.3\","
                 "\"\xC3\xA9\":-1E-0,\"updated_unix\":5,\"z\":\"x\"}",
                 healthy_123_5},
        Accepted{"PhaseObjectForm",
                 R"({"phase": { "rollback_required" : null },"current_version":"1","updated_unix":2})",
                 record(UpdatePhase::rollback_required, "1", 2)},
        Accepted{"ArrayForm", R"([ "downloaded", "1", null, "m.msi", "e", null, 18446744073709551615 ])",
                 record(UpdatePhase::downloaded, "1", u64_max, {}, "m.msi", "e")},
        Accepted{"ArrayFormPhaseObject", R"([{"failed":null},"",null,null,null,null,0])",
                 record(UpdatePhase::failed, "", 0)}),
    [](const auto& info) { return std::string(info.param.name); });

struct Rejected {
    const char* name;
    std::string_view text;
};
void PrintTo(const Rejected& c, std::ostream* out) { *out << c.name; }

class ReaderRejects : public testing::TestWithParam<Rejected> {};

TEST_P(ReaderRejects, GivesErrorWithPosition) {
    const auto result = tevra::state_from_json(GetParam().text);
    ASSERT_FALSE(result.has_value());
    EXPECT_NE(result.error().find(" line "), std::string::npos) << result.error();
    EXPECT_NE(result.error().find(" column "), std::string::npos) << result.error();
}

// A valid record with `member` (empty, or one member and a comma) inserted before its members.
#define WITH(member) "{" member "\"phase\":\"idle\",\"current_version\":\"1\",\"updated_unix\":5}"

INSTANTIATE_TEST_SUITE_P(
    Texts, ReaderRejects,
    testing::Values(
        Rejected{"Empty", ""}, Rejected{"WhitespaceOnly", " \n\t\r"},
        Rejected{"ByteOrderMark", "\xEF\xBB\xBF" WITH("")}, Rejected{"Comment", "/**/" WITH("")},
        Rejected{"VerticalTab", "\v" WITH("")}, Rejected{"TrailingComma", WITH("") ","},
        Rejected{"TrailingLetter", WITH("") " x"}, Rejected{"SecondObject", WITH("") WITH("")},
        Rejected{"NotObjectOrArray", "\"idle\""}, Rejected{"EmptyObject", "{}"},
        Rejected{"CommaBeforeBrace", "{\"phase\":\"idle\",\"current_version\":\"1\",\"updated_unix\":5,}"},
        Rejected{"MissingPhase", R"({"current_version":"1","updated_unix":5})"},
        Rejected{"MissingVersion", R"({"phase":"idle","updated_unix":5})"},
        Rejected{"MissingTime", R"({"phase":"idle","current_version":"1"})"},
        Rejected{"RepeatedPhase", WITH("\"phase\":\"idle\",")},
        Rejected{"RepeatedNulls", WITH("\"staged_msi\":null,\"staged_msi\":null,")},
        Rejected{"RepeatedViaEscape", WITH("\"phas\\u0065\":\"idle\",")},
        Rejected{"PhaseCapital", R"({"phase":"Idle","current_version":"1","updated_unix":5})"},
        Rejected{"PhaseNull", R"({"phase":null,"current_version":"1","updated_unix":5})"},
        Rejected{"PhaseNumber", R"({"phase":0,"current_version":"1","updated_unix":5})"},
        Rejected{"PhaseObjectNotNull", R"({"phase":{"idle":0},"current_version":"1","updated_unix":5})"},
        Rejected{"PhaseObjectTwo", R"({"phase":{"idle":null,"x":null},"current_version":"1","updated_unix":5})"},
        Rejected{"PhaseObjectEmpty", R"({"phase":{},"current_version":"1","updated_unix":5})"},
        Rejected{"PhaseObjectBadName", R"({"phase":{"x":null},"current_version":"1","updated_unix":5})"},
        Rejected{"VersionNull", R"({"phase":"idle","current_version":null,"updated_unix":5})"},
        Rejected{"VersionNumber", R"({"phase":"idle","current_version":1,"updated_unix":5})"},
        Rejected{"OptionalBool", WITH("\"last_error\":false,")},
        Rejected{"OptionalArray", WITH("\"staged_msi\":[],")},
        Rejected{"TimeNegative", R"({"phase":"idle","current_version":"1","updated_unix":-1})"},
        Rejected{"TimeMinusZero", R"({"phase":"idle","current_version":"1","updated_unix":-0})"},
        Rejected{"TimeFraction", R"({"phase":"idle","current_version":"1","updated_unix":1.0})"},
        Rejected{"TimeExponent", R"({"phase":"idle","current_version":"1","updated_unix":1e9})"},
        Rejected{"TimeLeadingZero", R"({"phase":"idle","current_version":"1","updated_unix":05})"},
        Rejected{"TimeTooLarge", R"({"phase":"idle","current_version":"1","updated_unix":18446744073709551616})"},
        Rejected{"TimeString", R"({"phase":"idle","current_version":"1","updated_unix":"5"})"},
        Rejected{"TimeNull", R"({"phase":"idle","current_version":"1","updated_unix":null})"},
        Rejected{"ArrayOfSix", R"(["idle","1",null,null,null,null])"},
        Rejected{"ArrayOfEight", R"(["idle","1",null,null,null,null,5,null])"},
        Rejected{"ArrayEmpty", "[]"},
        Rejected{"ArrayWrongType", R"(["idle","1",null,null,null,false,5])"},
        Rejected{"BadEscape", R"({"phase":"idle","current_version":"\x","updated_unix":5})"},
        Rejected{"BadEscapeSkipped", WITH("\"x\":\"\\a\",")},
        Rejected{"ShortUnicodeEscape", WITH("\"x\":\"\\u12G4\",")},
        Rejected{"RawControlChar", "{\"phase\":\"idle\",\"current_version\":\"a\tb\",\"updated_unix\":5}"},
        Rejected{"RawControlCharSkipped", WITH("\"x\":\"\x01\",")},
        Rejected{"LoneHighSurrogate", R"({"phase":"idle","current_version":"\ud83d","updated_unix":5})"},
        Rejected{"LoneLowSurrogate", R"({"phase":"idle","current_version":"\ude00","updated_unix":5})"},
        Rejected{"HighThenNonLow", R"({"phase":"idle","current_version":"\ud83d\u0041","updated_unix":5})"},
        Rejected{"SurrogateInKey", WITH("\"\\ud83d\":1,")},
        Rejected{"InvalidUtf8Text", "{\"phase\":\"idle\",\"current_version\":\"\xFF\",\"updated_unix\":5}"},
        Rejected{"Overlong", WITH("\"last_error\":\"\xC0\xAF\",")},
        Rejected{"EncodedSurrogate", WITH("\"last_error\":\"\xED\xA0\x80\",")},
        Rejected{"AboveMaxCodePoint", WITH("\"last_error\":\"\xF4\x90\x80\x80\",")},
        Rejected{"TruncatedSequence", WITH("\"last_error\":\"\xE2\x82\",")},
        Rejected{"InvalidUtf8Key", WITH("\"\xC3(\":1,")},
        Rejected{"InvalidUtf8PhaseKey", R"({"phase":{")" "\xFF" R"(":null},"current_version":"1","updated_unix":5})"},
        Rejected{"SkippedBadNumber", WITH("\"x\":01,")},
        Rejected{"SkippedBadFraction", WITH("\"x\":1.,")},
        Rejected{"SkippedBadLiteral", WITH("\"x\":nul,")},
        Rejected{"SkippedMismatchedBracket", WITH("\"x\":[1},")},
        Rejected{"SkippedMissingColon", WITH("\"x\":{\"a\" 1},")},
        Rejected{"UnclosedSkipped", "{\"x\":[{\"a\":[1,2"},
        Rejected{"UnclosedString", "{\"phase\":\"idle"},
        Rejected{"UnclosedObject", "{\"phase\":\"idle\",\"current_version\":\"1\",\"updated_unix\":5"},
        Rejected{"UnclosedArray", R"(["idle","1",null,null,null,null,5)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, DeepNestingNeverOverflowsTheStack) {
    const std::string deep(1000000, '[');
    const std::string closed = std::string(100000, '[') + std::string(100000, ']');
    const std::string objects = [] {
        std::string s;
        for (int i = 0; i < 100000; ++i) s += "{\"a\":";
        return s + "1" + std::string(100000, '}');
    }();
    EXPECT_FALSE(tevra::state_from_json(deep).has_value());
    EXPECT_FALSE(tevra::state_from_json("{\"x\":" + deep).has_value());
    EXPECT_FALSE(tevra::state_from_json("{\"x\":" + deep + "}").has_value());
    EXPECT_TRUE(tevra::state_from_json(WITH("\"x\":" + closed + ",")).has_value());
    EXPECT_TRUE(tevra::state_from_json(WITH("\"x\":" + objects + ",")).has_value());
}

TEST(Reader, ErrorNamesLineAndColumn) {
    const auto result = tevra::state_from_json("{\n  \"phase\": 7}");
    ASSERT_FALSE(result.has_value());
    EXPECT_NE(result.error().find("line 2 column 12"), std::string::npos) << result.error();
}

TEST(Writer, RunningOutOfMemoryIsAnError) {
    const auto state = record(UpdatePhase::failed, "1", 5, {}, {}, std::string(300, '\x01'));
    bool saw_failure = false;
    for (long budget = 0;; ++budget) {
        allocations_left = budget;
        const auto result = tevra::state_to_json(state);
        allocations_left = -1;
        if (result.has_value()) break;
        EXPECT_EQ(result.error(), "out of memory");
        saw_failure = true;
    }
    EXPECT_TRUE(saw_failure);
}

TEST(Reader, RunningOutOfMemoryIsAnError) {
    const std::string text = WITH("\"x\":[[{\"k\":[1]}]],\"last_error\":\"a long enough text, not small\",");
    bool saw_failure = false;
    for (long budget = 0;; ++budget) {
        allocations_left = budget;
        const auto result = tevra::state_from_json(text);
        allocations_left = -1;
        if (result.has_value()) break;
        EXPECT_EQ(result.error(), "out of memory");
        saw_failure = true;
    }
    EXPECT_TRUE(saw_failure);
}

}  // namespace

#include "common/utf.hpp"
#include "driver/cli/options.hpp"
#include "driver/cli/windows_command_line.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

std::vector<std::string> split(std::u16string_view line) {
    std::vector<std::string> out;
    for (const auto& arg : split_command_line(line)) out.push_back(utf16_to_utf8_lossy(arg));
    return out;
}

struct SplitCase {
    const char16_t* line;
    std::vector<std::string> args;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    for (char ch : utf16_to_utf8_lossy(c.line)) *out << (ch == '\n' ? "\\n" : ch == '\t' ? "\\t" : std::string(1, ch));
}

class SplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, GivesTheArguments) {
    EXPECT_EQ(split(GetParam().line), GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, SplitTest,
    testing::Values(
        SplitCase{u"prog", {"prog"}},
        SplitCase{u"\"C:\\Program Files\\u.exe\" a", {"C:\\Program Files\\u.exe", "a"}},
        SplitCase{u"C:\\dir\\\"x y\"\\u.exe a", {"C:\\dir\\x y\\u.exe", "a"}},  // argument 0: backslashes plain
        SplitCase{u" prog a", {"", "prog", "a"}},
        SplitCase{u"p \t a\t\tb   ", {"p", "a", "b"}},
        SplitCase{u"p a\\\\\\\"b", {"p", "a\\\"b"}},         // 3 backslashes + quote
        SplitCase{u"p a\\\\\"b c\"", {"p", "a\\b c"}},        // 2 backslashes + quote opens
        SplitCase{u"p C:\\dir\\", {"p", "C:\\dir\\"}},         // trailing backslash kept
        SplitCase{u"p \"a\\\" b\"", {"p", "a\" b"}},          // escaped quote inside quotes
        SplitCase{u"p \"a\"\"b\" c", {"p", "a\"b", "c"}},     // doubled quote inside quotes
        SplitCase{u"p \"\"", {"p", ""}},
        SplitCase{u"p \"\" \"\"", {"p", "", ""}},
        SplitCase{u"p \"a b\"c", {"p", "a bc"}},
        SplitCase{u"p \"unterminated x", {"p", "unterminated x"}},
        SplitCase{u"p \"ab\"\"", {"p", "ab\""}},              // doubled quote at the end keeps the stretch open
        SplitCase{u"p a\nb", {"p", "a\nb"}},
        SplitCase{u"p \"\"\"", {"p", "\""}}));

struct ScanCase {
    std::vector<std::string> args;
    std::string expected;  // "apply <path>|<ver>", "mark", or the failure text
};

void PrintTo(const ScanCase& c, std::ostream* out) {
    for (const std::string& arg : c.args) *out << '[' << arg << ']';
}

std::string describe(const std::expected<Command, std::string>& result) {
    if (!result) return result.error();
    if (std::holds_alternative<MarkAwaitingFirstStart>(*result)) return "mark";
    const auto& apply = std::get<ApplyRequest>(*result);
    return "apply " + apply.msi_path + "|" + apply.expected_version;
}

class ScanTest : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, ChoosesTheOperation) {
    EXPECT_EQ(describe(scan_options(GetParam().args)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ScanTest,
    testing::Values(
        ScanCase{{"u"}, "missing --apply-msi"},
        ScanCase{{"u", "--expected-version", "1"}, "missing --apply-msi"},
        ScanCase{{"u", "--apply-msi", "a.msi"}, "missing --expected-version"},
        ScanCase{{"u", "--apply-msi", "a.msi", "--expected-version", "1"}, "apply a.msi|1"},
        ScanCase{{"u", "--expected-version", "", "--apply-msi", ""}, "apply |"},
        ScanCase{{"u", "--apply-msi", "a", "--apply-msi", "b", "--expected-version", "2"}, "apply b|2"},
        ScanCase{{"u", "--apply-msi", "a", "--expected-version", "2", "--apply-msi"}, "missing --apply-msi"},
        ScanCase{{"u", "--apply-msi", "a", "--expected-version"}, "missing --expected-version"},
        ScanCase{{"u", "--apply-msi", "--expected-version", "2"}, "unknown arg: 2"},
        ScanCase{{"u", "--mark-awaiting-first-start", "--bogus"}, "mark"},
        ScanCase{{"u", "--apply-msi", "a", "--mark-awaiting-first-start"}, "mark"},
        ScanCase{{"u", "--bogus", "--mark-awaiting-first-start"}, "unknown arg: --bogus"},
        ScanCase{{"u", "--APPLY-MSI", "a"}, "unknown arg: --APPLY-MSI"},
        ScanCase{{"u", "-apply-msi", "a"}, "unknown arg: -apply-msi"},
        ScanCase{{"u", "--apply-msi=a"}, "unknown arg: --apply-msi=a"},
        ScanCase{{"u", "--"}, "unknown arg: --"},
        ScanCase{{"u", ""}, "unknown arg: "}));

TEST(Help, IsFoundAnywhereIncludingArgumentZeroAndValues) {
    EXPECT_TRUE(asks_for_help({"-h"}));
    EXPECT_TRUE(asks_for_help({"u", "--bogus", "--help"}));
    EXPECT_TRUE(asks_for_help({"u", "--apply-msi", "--help"}));
    EXPECT_FALSE(asks_for_help({"u", "-H", "--HELP", "-help", "help"}));
}

}  // namespace
}  // namespace tevra

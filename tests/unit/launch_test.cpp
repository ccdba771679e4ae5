#include "common/utf.hpp"
#include "driver/cli/windows_command_line.hpp"
#include "driver/launch/search_path.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <random>

namespace tevra {
namespace {

using namespace std::string_literals;

struct BuildCase {
    const char* name;
    std::u16string program;
    std::vector<std::u16string> args;
    std::u16string line;
};

void PrintTo(const BuildCase& c, std::ostream* out) { *out << c.name; }

class BuildTest : public testing::TestWithParam<BuildCase> {};

TEST_P(BuildTest, WritesTheCommandLine) {
    auto line = build_command_line(GetParam().program, GetParam().args);
    ASSERT_TRUE(line.has_value()) << line.error();
    EXPECT_EQ(utf16_to_utf8_lossy(*line), utf16_to_utf8_lossy(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, BuildTest,
    testing::Values(
        BuildCase{"no arguments", u"msiexec", {}, uR"("msiexec")"},
        BuildCase{"program with a blank", u"my prog", {u"a"}, uR"("my prog" a)"},
        BuildCase{"plain", u"p", {u"/i", u"x.msi"}, uR"("p" /i x.msi)"},
        BuildCase{"empty", u"p", {u"", u"a", u""}, uR"("p" "" a "")"},
        BuildCase{"blank", u"p", {u"a b"}, uR"("p" "a b")"},
        BuildCase{"lone blank", u"p", {u" "}, uR"("p" " ")"},
        BuildCase{"tab", u"p", {u"a\tb"}, u"\"p\" \"a\tb\""},
        BuildCase{"newline stays bare", u"p", {u"a\nb"}, u"\"p\" a\nb"},
        BuildCase{"quote", u"p", {uR"(a"b)"}, uR"("p" a\"b)"},
        BuildCase{"lone quote", u"p", {uR"(")"}, uR"("p" \")"},
        BuildCase{"one backslash before a quote", u"p", {uR"(a\"b)"}, uR"("p" a\\\"b)"},
        BuildCase{"two backslashes before a quote", u"p", {uR"(a\\"b)"}, uR"("p" a\\\\\"b)"},
        BuildCase{"backslashes elsewhere", u"p", {uR"(\\a\b\\c)"}, uR"("p" \\a\b\\c)"},
        BuildCase{"trailing backslashes bare", u"p", {uR"(a\\)"}, uR"("p" a\\)"},
        BuildCase{"trailing backslash quoted", u"p", {uR"(C:\Program Files\)"}, uR"("p" "C:\Program Files\\")"},
        BuildCase{"trailing backslashes quoted", u"p", {uR"(a b\\)"}, uR"("p" "a b\\\\")"},
        BuildCase{"quotes inside quotes", u"p", {uR"(a "b" c)"}, uR"("p" "a \"b\" c")"},
        BuildCase{"backslash quote at the end of a quoted one", u"p", {uR"(a \")"}, uR"("p" "a \\\"")"},
        BuildCase{"mixed runs", u"p", {uR"(\\" x\\)"}, uR"("p" "\\\\\" x\\\\")"},
        BuildCase{"non-ASCII", u"p", {u"\u00e9t\u00e9 \U0001F600"}, u"\"p\" \"\u00e9t\u00e9 \U0001F600\""},
        BuildCase{"installer arguments", u"msiexec",
                  {u"/i", uR"(\\?\C:\Users\ann\AppData\Local\Tevra Remote\Updates\pkg.msi)", u"/qb",
                   u"REBOOT=ReallySuppress", u"EXPECTEDVERSION=2.4.0"},
                  uR"("msiexec" /i "\\?\C:\Users\ann\AppData\Local\Tevra Remote\Updates\pkg.msi" /qb REBOOT=ReallySuppress EXPECTEDVERSION=2.4.0)"},
        BuildCase{"version with a blank", u"msiexec", {u"EXPECTEDVERSION=2.4 beta"},
                  uR"("msiexec" "EXPECTEDVERSION=2.4 beta")"}));

TEST(CommandLine, ANulAnywhereFails) {
    struct Case {
        std::u16string program;
        std::vector<std::u16string> args;
    };
    const Case cases[] = {
        {u"p\0x"s, {}},
        {u"\0"s, {u"a"}},
        {u"p", {u"a\0b"s}},
        {u"p", {u"a", u"b c", u"\0"s}},
        {u"p", {u"x y\0"s, u"z"}},
    };
    for (const Case& c : cases) {
        auto line = build_command_line(c.program, c.args);
        ASSERT_FALSE(line.has_value()) << utf16_to_utf8_lossy(*line);
        EXPECT_EQ(line.error(), "nul byte found in provided data");
    }
}

// Whatever the arguments hold, the child's splitting gives them back.
TEST(CommandLine, SplittingGivesBackGeneratedArguments) {
    const std::u16string pieces[] = {u" ", u"\t", u"\"", u"\\", u"\\\\", u"\\\\\\", u"\\\\\\\\",
                                     u"a", u"b", u"\u00e9", u"\U0001F600", u"\"\"", u"\\\""};
    std::mt19937 random(20240611);
    auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::u16string> args(below(6));
        for (std::u16string& arg : args) {
            for (std::size_t n = below(7); n > 0; --n) arg += pieces[below(std::size(pieces))];
        }
        auto line = build_command_line(u"prog", args);
        ASSERT_TRUE(line.has_value());
        std::vector<std::u16string> split = split_command_line(*line);
        ASSERT_FALSE(split.empty());
        EXPECT_EQ(split.front(), u"prog");
        split.erase(split.begin());
        ASSERT_EQ(split, args) << utf16_to_utf8_lossy(*line);
    }
}

struct SearchPathCase {
    const char* name;
    std::u16string variable;
    std::vector<std::u16string> dirs;
};

void PrintTo(const SearchPathCase& c, std::ostream* out) { *out << c.name; }

class SearchPathTest : public testing::TestWithParam<SearchPathCase> {};

TEST_P(SearchPathTest, GivesTheDirectories) {
    EXPECT_EQ(split_search_path(GetParam().variable), GetParam().dirs);
}

INSTANTIATE_TEST_SUITE_P(
    SearchPath, SearchPathTest,
    testing::Values(
        SearchPathCase{"empty", u"", {}},
        SearchPathCase{"only separators", u";;;", {}},
        SearchPathCase{"one", uR"(C:\a)", {uR"(C:\a)"}},
        SearchPathCase{"two", uR"(C:\a;C:\b\)", {uR"(C:\a)", uR"(C:\b\)"}},
        SearchPathCase{"empty entries skipped", uR"(;;C:\a;;C:\b;)", {uR"(C:\a)", uR"(C:\b)"}},
        SearchPathCase{"quoted separator", uR"("C:\a;b";C:\c)", {uR"(C:\a;b)", uR"(C:\c)"}},
        SearchPathCase{"quotes inside an entry", uR"(C:\x"y;z"w;v)", {uR"(C:\xy;zw)", u"v"}},
        SearchPathCase{"quoted blanks", uR"("C:\Program Files";D:\)", {uR"(C:\Program Files)", uR"(D:\)"}},
        SearchPathCase{"empty quotes skipped", uR"("";a;"")", {u"a"}},
        SearchPathCase{"unterminated quote runs to the end", uR"(a;"b;c)", {u"a", u"b;c"}},
        SearchPathCase{"blanks are kept", u" ;a ", {u" ", u"a "}}));

}  // namespace
}  // namespace tevra

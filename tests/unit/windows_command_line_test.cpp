// Splitting a command line and building one are inverses; both follow the Windows convention.
#include "driver/command_line.hpp"
#include "driver/launch.hpp"

#include <gtest/gtest.h>

#include <random>

namespace tevra {
namespace {

using namespace std::string_literals;
using Args = std::vector<std::u16string>;

TEST(SplitCommandLine, FollowsTheArgumentConvention) {
    struct Case {
        std::u16string line;
        Args args;
    };
    const Case cases[] = {
        {u"prog", {u"prog"}},
        {u"prog \t ", {u"prog"}},
        {uR"("C:\Program Files\u.exe" a)", {uR"(C:\Program Files\u.exe)", u"a"}},
        {uR"(C:\dir\"x y"\u.exe a)", {uR"(C:\dir\x y\u.exe)", u"a"}},  // argument 0: backslashes plain
        {u" prog a", {u"", u"prog", u"a"}},
        {u"p \t a\t\tb   ", {u"p", u"a", u"b"}},
        {uR"(p a\\\"b)", {u"p", uR"(a\"b)"}},     // three backslashes and a quote
        {uR"(p a\\"b c")", {u"p", uR"(a\b c)"}},  // two backslashes, then the quote opens
        {uR"(p C:\dir\ x\\y)", {u"p", uR"(C:\dir\)", uR"(x\\y)"}},
        {uR"(p "a\" b")", {u"p", u"a\" b"}},        // escaped quote inside quotes
        {uR"(p "a""b" c)", {u"p", u"a\"b", u"c"}},  // doubled quote inside quotes
        {uR"(p "" "")", {u"p", u"", u""}},
        {uR"(p "a b"c)", {u"p", u"a bc"}},
        {uR"(p "unterminated x)", {u"p", u"unterminated x"}},
        {uR"(p "ab"")", {u"p", u"ab\""}},  // a doubled quote at the very end keeps the stretch open
        {uR"(p """)", {u"p", u"\""}},
        {u"p a\nb\r", {u"p", u"a\nb\r"}},
    };
    for (const Case& c : cases) EXPECT_EQ(split_command_line(c.line), c.args) << testing::PrintToString(c.line);
}

TEST(BuildCommandLine, QuotesOnlyWhatNeedsIt) {
    struct Case {
        std::u16string program;
        Args args;
        std::u16string line;
    };
    const Case cases[] = {
        {u"msiexec", {}, uR"("msiexec")"},
        {u"my prog", {u"a"}, uR"("my prog" a)"},
        {u"p", {u"", u"a", u" ", u"a\tb", u"a\nb"}, u"\"p\" \"\" a \" \" \"a\tb\" a\nb"},
        {u"p", {uR"(a"b)", uR"(")", uR"(a\"b)", uR"(a\\"b)"}, uR"("p" a\"b \" a\\\"b a\\\\\"b)"},
        {u"p", {uR"(\\a\b\\c)", uR"(a\\)"}, uR"("p" \\a\b\\c a\\)"},
        {u"p", {uR"(C:\Program Files\)", uR"(a b\\)"}, uR"("p" "C:\Program Files\\" "a b\\\\")"},
        {u"p", {uR"(a "b" c)", uR"(a \")", uR"(\\" x\\)"}, uR"("p" "a \"b\" c" "a \\\"" "\\\\\" x\\\\")"},
        {u"p", {u"\u00e9t\u00e9 \U0001F600"}, u"\"p\" \"\u00e9t\u00e9 \U0001F600\""},
    };
    for (const Case& c : cases) {
        auto line = build_command_line(c.program, c.args);
        ASSERT_TRUE(line.has_value()) << line.error();
        EXPECT_EQ(*line, c.line);
    }
}

TEST(BuildCommandLine, ANulAnywhereFails) {
    const std::pair<std::u16string, Args> cases[] = {{u"p\0x"s, {}}, {u"p", {u"a", u"b c", u"x y\0"s}}};
    for (const auto& [program, args] : cases) {
        auto line = build_command_line(program, args);
        ASSERT_FALSE(line.has_value()) << testing::PrintToString(*line);
        EXPECT_EQ(line.error(), "nul byte found in provided data");
    }
}

// Whatever the arguments hold, splitting what was built gives them back.
TEST(BuildCommandLine, SplittingGivesTheArgumentsBack) {
    const std::u16string pieces[] = {u" ", u"\t",     u"\"",         u"\\",   u"\\\\", u"\\\\\\",
                                     u"a", u"\u00e9", u"\U0001F600", u"\"\"", u"\\\"", u"\xD800"};
    std::mt19937 random(20240611);
    auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    for (int round = 0; round < 2000; ++round) {
        Args args(below(6));
        for (std::u16string& arg : args)
            for (std::size_t n = below(7); n > 0; --n) arg += pieces[below(std::size(pieces))];
        auto line = build_command_line(u"prog", args);
        ASSERT_TRUE(line.has_value());
        args.insert(args.begin(), u"prog");
        ASSERT_EQ(split_command_line(*line), args) << testing::PrintToString(*line);
    }
}

}  // namespace
}  // namespace tevra

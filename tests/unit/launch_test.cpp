// Starting the installer: where a program named without a folder is looked for, and the command line it gets.
// That splitting gives built arguments back is the command-line fuzz target's oracle.
#include "driver/launch.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

using namespace std::string_literals;
using Args = std::vector<std::u16string>;
using Dirs = std::vector<std::u16string>;

TEST(SearchDirectories, OwnFolderSystemWindowsThenAbsolutePathEntries) {
    EXPECT_EQ(search_directories(u"C:\\bin\\", u"C:\\Windows\\system32", u"C:\\Windows", u"D:\\a;\"D:\\b;c\";;E:\\"),
              (Dirs{u"C:\\bin\\", u"C:\\Windows\\system32", u"C:\\Windows", u"D:\\a", u"D:\\b;c", u"E:\\"}));
    // Unknown or empty directories are left out: "" would mean the current directory.
    EXPECT_EQ(search_directories(std::nullopt, u"", std::nullopt, std::nullopt), Dirs{});
    // So are relative entries, which the current directory or drive would complete.
    EXPECT_EQ(search_directories(std::nullopt, std::nullopt, std::nullopt,
                                 u".;bin;C:x;\\tools;C:;1:\\z;D:\\a;\\\\srv\\share;\\\\?\\F:\\x;g:/y"),
              (Dirs{u"D:\\a", u"\\\\srv\\share", u"\\\\?\\F:\\x", u"g:/y"}));
}

TEST(SplitSearchPath, SemicolonsOutsideQuotesSeparate) {
    const std::pair<std::u16string, Dirs> variables[] = {
        {u";;;", {}},
        {u"\"C:\\Program Files\";x\"y;z\"w", {u"C:\\Program Files", u"xy;zw"}},
        {u"\"\";a;\"b;c", {u"a", u"b;c"}},  // empty quotes skipped; an open quote runs to the end
        {u" ;a ", {u" ", u"a "}},
    };
    for (const auto& [variable, dirs] : variables) EXPECT_EQ(split_search_path(variable), dirs);
}

TEST(BuildCommandLine, QuotesOnlyWhatNeedsItAndRefusesANul) {
    struct Case {
        std::u16string program;
        Args args;
        std::expected<std::u16string, std::string> line;
    };
    const auto nul = std::unexpected("nul byte found in provided data"s);
    const Case cases[] = {
        {u"msiexec", {}, uR"("msiexec")"},
        {u"my prog", {u"a"}, uR"("my prog" a)"},
        {u"p", {u"", u"a", u" ", u"a\tb", u"a\nb"}, u"\"p\" \"\" a \" \" \"a\tb\" a\nb"},
        {u"p", {uR"(a"b)", uR"(")", uR"(a\"b)", uR"(a\\"b)"}, uR"("p" a\"b \" a\\\"b a\\\\\"b)"},
        {u"p", {uR"(\\a\b\\c)", uR"(a\\)"}, uR"("p" \\a\b\\c a\\)"},
        {u"p", {uR"(C:\Program Files\)", uR"(a b\\)"}, uR"("p" "C:\Program Files\\" "a b\\\\")"},
        {u"p", {uR"(a "b" c)", uR"(a \")", uR"(\\" x\\)"}, uR"("p" "a \"b\" c" "a \\\"" "\\\\\" x\\\\")"},
        {u"p", {u"\u00e9t\u00e9 \U0001F600"}, u"\"p\" \"\u00e9t\u00e9 \U0001F600\""},
        {u"p\0x"s, {}, nul},
        {u"p", {u"a", u"b c", u"x y\0"s}, nul},
    };
    for (const Case& c : cases) {
        const auto line = build_command_line(c.program, c.args);
        EXPECT_EQ(line.value_or(u"(failed)"), c.line.value_or(u"(failed)"));
        EXPECT_EQ(line ? "" : line.error(), c.line ? "" : c.line.error());
    }
}

}  // namespace
}  // namespace tevra

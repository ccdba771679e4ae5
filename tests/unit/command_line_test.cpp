// The updater's own command line: splitting it by the Windows convention and reading its options.
#include "driver/command_line.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

using Args = std::vector<std::u16string>;

TEST(SplitCommandLine, FollowsTheArgumentConvention) {
    struct Case {
        std::u16string line;
        Args args;
    };
    const Case cases[] = {
        {u"prog", {u"prog"}},
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
        {uR"(p "unterminated x)", {u"p", u"unterminated x"}},
        {uR"(p "ab"")", {u"p", u"ab\""}},  // a doubled quote at the very end keeps the stretch open
        {u"p a\nb\r", {u"p", u"a\nb\r"}},
    };
    for (const Case& c : cases) EXPECT_EQ(split_command_line(c.line), c.args) << testing::PrintToString(c.line);
}

// What the updater makes of its arguments: help first, wherever it stands, then the operation or the failure text.
TEST(Options, AnswerHelpOrChooseTheOperationOrFail) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;  // "help", "apply <path>|<version>", "mark", or the failure text
    };
    const Case cases[] = {
        {{"-h"}, "help"},
        {{"u", "--apply-msi", "--help", "--expected-version", "1"}, "help"},
        {{"u", "--bogus", "--help"}, "help"},
        {{"u", "--Help", "-H"}, "unknown arg: --Help"},
        {{"u"}, "missing --apply-msi"},
        {{"u", "--apply-msi", "a.msi"}, "missing --expected-version"},
        {{"u", "--apply-msi", "a.msi", "--expected-version", "1"}, "apply a.msi|1"},
        {{"u", "--expected-version", "", "--apply-msi", ""}, "apply |"},
        {{"u", "--apply-msi", "a", "--apply-msi", "b", "--expected-version", "2"}, "apply b|2"},
        {{"u", "--apply-msi", "a", "--expected-version", "2", "--apply-msi"}, "missing --apply-msi"},
        {{"u", "--apply-msi", "a", "--expected-version"}, "missing --expected-version"},
        {{"u", "--apply-msi", "--expected-version", "2"}, "unknown arg: 2"},
        {{"u", "--mark-awaiting-first-start", "--bogus"}, "mark"},
        {{"u", "--apply-msi", "a", "--mark-awaiting-first-start"}, "mark"},
        {{"u", "--bogus", "--mark-awaiting-first-start"}, "unknown arg: --bogus"},
        {{"u", ""}, "unknown arg: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto command = scan_options(c.args);
        const auto* apply = command ? std::get_if<ApplyRequest>(&*command) : nullptr;
        EXPECT_EQ(asks_for_help(c.args) ? "help"
                  : !command            ? command.error()
                  : apply               ? "apply " + apply->msi_path + "|" + apply->expected_version
                                        : "mark",
                  c.expected);
    }
}

}  // namespace
}  // namespace tevra

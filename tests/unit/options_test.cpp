// The updater's own options: the operation chosen, or the failure text.
#include "driver/command_line.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

std::string describe(const std::expected<Command, std::string>& result) {
    if (!result) return result.error();
    if (std::holds_alternative<MarkAwaitingFirstStart>(*result)) return "mark";
    const auto& apply = std::get<ApplyRequest>(*result);
    return "apply " + apply.msi_path + "|" + apply.expected_version;
}

TEST(Options, ChooseTheOperationOrFail) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;  // "apply <path>|<version>", "mark", or the failure text
    };
    const Case cases[] = {
        {{"u"}, "missing --apply-msi"},
        {{"u", "--expected-version", "1"}, "missing --apply-msi"},
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
        {{"u", "--APPLY-MSI", "a"}, "unknown arg: --APPLY-MSI"},
        {{"u", "--apply-msi=a"}, "unknown arg: --apply-msi=a"},
        {{"u", ""}, "unknown arg: "},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(scan_options(c.args)), c.expected) << testing::PrintToString(c.args);
}

}  // namespace
}  // namespace tevra

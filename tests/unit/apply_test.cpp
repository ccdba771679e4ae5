// The apply operation's rules: the installer's arguments, and what its exit code makes of the record and the run.
#include "driver/apply.hpp"

#include "driver/launch.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

// The installer gets the canonical path unit for unit, even a lone surrogate that has no text form.
TEST(InstallerArguments, CarryThePackagePathExactly) {
    const std::u16string package = u"\\\\?\\Z:\\Tevra Remote\\Updates\\p\xD800q.msi";
    EXPECT_EQ(build_command_line(u"msiexec", installer_arguments(package, u"2.5 beta")).value_or(u"(failed)"),
              u"\"msiexec\" /i \"" + package + u"\" /qb REBOOT=ReallySuppress \"EXPECTEDVERSION=2.5 beta\"");
    EXPECT_EQ(installer_arguments(u"C:\\p.msi", u"").back(), u"EXPECTEDVERSION=");
}

// A quote anywhere would end the installer's property, and a blank with a trailing backslash would reach it changed;
// blanks, backslashes elsewhere and an empty version go on as they are.
TEST(ExpectedVersion, RefusedOnlyWhereTheInstallerWouldReadAnotherText) {
    const std::string quote = "expected version contains a double quote",
                      blank = "expected version holds a blank and ends in a backslash";
    const std::pair<std::string_view, std::string> versions[] = {
        {"", ""},      {"2.4 beta", ""},          {"1.0\\", ""},   {"\\\\", ""},     {"1 \\2", ""},
        {"\"", quote}, {"1.2\" /i x.msi", quote}, {"1 \\", blank}, {"1\t\\", blank}, {"\t\\\\", blank},
    };
    for (const auto& [version, refusal] : versions) {
        const auto checked = check_expected_version(version);
        EXPECT_EQ(checked ? "" : checked.error(), refusal) << version;
    }
}

// The failure text record_installer_exit gives, "" for success.
std::string failure_text(UpdateStateFile& state, std::int32_t exit_code) {
    const auto result = record_installer_exit(state, exit_code, "2.4 beta");
    return result ? "" : result.error();
}

TEST(InstallerExit, ZeroAwaitsFirstStartAndAnythingElseFails) {
    const UpdateStateFile loaded{UpdatePhase::downloaded, "1.0", "1.1", "C:\\s.msi", "old error", "0.9", 77};
    UpdateStateFile state = loaded;
    EXPECT_EQ(failure_text(state, 0), "");
    EXPECT_EQ(state, (UpdateStateFile{UpdatePhase::awaiting_first_start, "2.4 beta", "2.4 beta", "C:\\s.msi",
                                      std::nullopt, "0.9", 77}));
    // A restart-required code fails too; a code above 2^31 reads as negative.
    const std::pair<std::int32_t, std::string> failures[] = {
        {1603, "Some(1603)"}, {3010, "Some(3010)"}, {std::int32_t(3221225477u), "Some(-1073741819)"}};
    for (const auto& [code, text] : failures) {
        SCOPED_TRACE(code);
        state = loaded;
        EXPECT_EQ(failure_text(state, code), "msiexec failed: " + text);
        UpdateStateFile expected = loaded;
        expected.phase = UpdatePhase::failed;
        expected.last_error = "msiexec exit " + text;
        EXPECT_EQ(state, expected);
    }
}

}  // namespace
}  // namespace tevra

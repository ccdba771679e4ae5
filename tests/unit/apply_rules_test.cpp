// The apply operation's rules: the installer's arguments and the outcome records.
#include "driver/apply.hpp"

#include "driver/command_line.hpp"
#include "driver/launch.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

// The installer gets the canonical path unit for unit, even a lone surrogate that has no text form.
TEST(InstallerArguments, CarryThePackagePathExactly) {
    const std::u16string package = u"\\\\?\\Z:\\Tevra Remote\\Updates\\p\xD800q.msi";
    const auto line = build_command_line(u"msiexec", installer_arguments(package, u"2.5 beta"));
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, u"\"msiexec\" /i \"" + package + u"\" /qb REBOOT=ReallySuppress \"EXPECTEDVERSION=2.5 beta\"");
    EXPECT_EQ(installer_arguments(u"C:\\p.msi", u"").back(), u"EXPECTEDVERSION=");
}

TEST(InstallerExit, ZeroAwaitsFirstStartAndAnythingElseFails) {
    const UpdateStateFile loaded{UpdatePhase::downloaded, "1.0", "1.1", "C:\\s.msi", "old error", "0.9", 77};
    UpdateStateFile state = loaded;
    EXPECT_TRUE(record_installer_exit(state, 0, "2.4 beta").has_value());
    EXPECT_EQ(state, (UpdateStateFile{UpdatePhase::awaiting_first_start, "2.4 beta", "2.4 beta", "C:\\s.msi",
                                      std::nullopt, "0.9", 77}));

    struct Case {
        std::int32_t code;
        std::string text;
    };
    for (const Case& c : {Case{1603, "Some(1603)"}, Case{3010, "Some(3010)"}, Case{1641, "Some(1641)"},
                          Case{static_cast<std::int32_t>(3221225477u), "Some(-1073741819)"}}) {
        state = loaded;
        EXPECT_EQ(record_installer_exit(state, c.code, "2.0"), std::unexpected("msiexec failed: " + c.text));
        UpdateStateFile expected = loaded;
        expected.phase = UpdatePhase::failed;
        expected.last_error = "msiexec exit " + c.text;
        EXPECT_EQ(state, expected);
    }
}

}  // namespace
}  // namespace tevra

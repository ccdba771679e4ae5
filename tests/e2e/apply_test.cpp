// Applying a staged package with the real updater: a stand-in installer where the outcome must be
// chosen, and the real Windows Installer of the prefix on a real package.
#include "harness.hpp"

#include "common/utf.hpp"
#include "state/state_codec.hpp"

#include <gtest/gtest.h>

namespace tevra::test {
namespace {

const UpdateStateFile stored_record{UpdatePhase::downloaded, "1.0", "2.4.0", "C:\\old.msi", "earlier failure", "0.9", 1234};

TEST(ApplyOutcome, FollowsTheInstallerExitCode) {
    struct Case {
        std::u16string exit_code;
        std::string failure;  // empty for success
    };
    const Case cases[] = {
        {u"0", ""},
        {u"1603", "msiexec failed: Some(1603)"},
        {u"3010", "msiexec failed: Some(3010)"},
        {u"3221225477", "msiexec failed: Some(-1073741819)"},
    };
    for (const Case& c : cases) {
        Layout setup;
        fs::path package = setup.stage(L"pkg.msi");
        write_file(setup.state, state_to_json(stored_record).value());
        RunResult result = setup.apply(u16(package), u"2.5 beta", c.exit_code);

        auto record = setup.installer_start();
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->command_line, utf16_to_utf8_lossy(u"\"msiexec\" /i \"" + verbatim(package) +
                                                             u"\" /qb REBOOT=ReallySuppress \"EXPECTEDVERSION=2.5 beta\""));
        const std::vector<std::string> expected_args = {"msiexec", "/i", utf16_to_utf8_lossy(verbatim(package)), "/qb",
                                                        "REBOOT=ReallySuppress", "EXPECTEDVERSION=2.5 beta"};
        EXPECT_EQ(record->args, expected_args);
        // Nothing is written while the installer runs.
        EXPECT_EQ(record->snapshot, state_to_json(stored_record));

        UpdateStateFile expected = stored_record;
        if (c.failure.empty()) {
            EXPECT_EQ(result.exit_code, 0u);
            EXPECT_EQ(result.stderr_bytes, "");
            expected.phase = UpdatePhase::awaiting_first_start;
            expected.current_version = "2.5 beta";
            expected.candidate_version = "2.5 beta";
            expected.last_error.reset();
        } else {
            EXPECT_EQ(result.exit_code, 1u);
            EXPECT_EQ(result.stderr_bytes, "updater error: " + c.failure + "\n");
            expected.phase = UpdatePhase::failed;
            expected.last_error = c.failure;
        }
        EXPECT_EQ(setup.saved_state(), expected);
    }
}

TEST(ApplyOutcome, AnEmptyVersionIsPassedBare) {
    Layout setup;
    fs::path package = setup.stage(L"pkg.msi");
    EXPECT_EQ(setup.apply(u16(package), u"").exit_code, 0u);
    auto record = setup.installer_start();
    ASSERT_TRUE(record.has_value());
    EXPECT_TRUE(record->command_line.ends_with(" REBOOT=ReallySuppress EXPECTEDVERSION=")) << record->command_line;
    UpdateStateFile state = setup.saved_state();
    EXPECT_EQ(state.current_version, "");
    EXPECT_EQ(state.candidate_version, "");
}

TEST(ApplyStaging, AcceptsPackagesThatReallyLieInside) {
    struct Case {
        const char* name;
        std::u16string (*path)(const Layout&);
    };
    const Case cases[] = {
        {"deep below", [](const Layout& s) { return u16(s.staging / L"a" / L"b" / L"c" / L"pkg.msi"); }},
        {"other letter case", [](const Layout& s) { return u16(s.product / L"UPDATES" / L"a" / L"b" / L"c" / L"PKG.MSI"); }},
        {"forward slashes", [](const Layout& s) {
             std::u16string path = u16(s.staging / L"a" / L"b" / L"c" / L"pkg.msi");
             for (auto& c : path) c = c == u'\\' ? u'/' : c;
             return path;
         }},
        {"relative", [](const Layout&) { return std::u16string(u"lad\\Tevra Remote\\Updates\\a\\..\\a\\b\\c\\pkg.msi"); }},
        {"link resolving inside", [](const Layout& s) {
             make_symlink(s.staging / L"a" / L"b" / L"c" / L"pkg.msi", s.dir / L"link.msi");
             return u16(s.dir / L"link.msi");
         }},
    };
    for (const Case& c : cases) {
        Layout setup;
        fs::path package = setup.stage(L"a\\b\\c\\pkg.msi");
        RunResult result = setup.apply(c.path(setup));
        EXPECT_EQ(result.exit_code, 0u) << c.name << ": " << result.stderr_bytes;
        auto record = setup.installer_start();
        ASSERT_TRUE(record.has_value()) << c.name;
        ASSERT_EQ(record->args.size(), 6u);
        EXPECT_EQ(record->args[2], utf8(fs::path(verbatim(package)))) << c.name;
    }
}

TEST(ApplyStaging, RefusesEverythingElseBeforeAnyInstallerStarts) {
    struct Case {
        const char* name;
        std::u16string (*path)(const Layout&);
        std::string failure;
    };
    const Case cases[] = {
        {"sibling sharing the name's start", [](const Layout& s) {
             fs::create_directories(s.product / L"Updates2");
             fs::copy_file(package_file(L"demo.msi"), s.product / L"Updates2" / L"pkg.msi");
             return u16(s.product / L"Updates2" / L"pkg.msi");
         }, "msi outside update staging"},
        {"link inside leading outside", [](const Layout& s) {
             fs::copy_file(package_file(L"demo.msi"), s.dir / L"outside.msi");
             make_symlink(s.dir / L"outside.msi", s.staging / L"inside.msi");
             return u16(s.staging / L"inside.msi");
         }, "msi outside update staging"},
        {"dot-dot out of staging", [](const Layout& s) {
             fs::copy_file(package_file(L"demo.msi"), s.product / L"pkg.msi");
             return u16(s.staging) + u"\\..\\pkg.msi";
         }, "msi outside update staging"},
        {"no staging directory", [](const Layout& s) {
             fs::remove_all(s.staging);
             fs::copy_file(package_file(L"demo.msi"), s.product / L"pkg.msi");
             return u16(s.product / L"pkg.msi");
         }, "msi outside update staging"},
        {"missing file", [](const Layout& s) { return u16(s.staging / L"absent.msi"); }, "msi not found"},
        {"directory", [](const Layout& s) {
             fs::create_directories(s.staging / L"dir.msi");
             return u16(s.staging / L"dir.msi");
         }, "msi not found"},
        {"the staging directory itself", [](const Layout& s) { return u16(s.staging); }, "msi not found"},
        {"broken link", [](const Layout& s) {
             write_file(s.staging / L"gone.msi", "soon gone");
             make_symlink(s.staging / L"gone.msi", s.staging / L"broken.msi");
             fs::remove(s.staging / L"gone.msi");
             return u16(s.staging / L"broken.msi");
         }, "msi not found"},
        {"empty path", [](const Layout&) { return std::u16string(); }, "msi not found"},
        {"not a package at all", [](const Layout& s) {
             write_file(s.staging / L"text.msi", "this is no installer package\r\n");
             return u16(s.staging / L"text.msi");
         }, "Authenticode check failed (Invalid); refusing apply"},
    };
    for (const Case& c : cases) {
        Layout setup;
        write_file(setup.state, state_to_json(stored_record).value());
        RunResult result = setup.apply(c.path(setup));
        EXPECT_EQ(result.exit_code, 1u) << c.name;
        EXPECT_EQ(result.stderr_bytes, "updater error: " + c.failure + "\n") << c.name;
        EXPECT_FALSE(setup.installer_start().has_value()) << c.name << ": the installer ran";
        UpdateStateFile expected = stored_record;
        expected.phase = UpdatePhase::failed;
        expected.last_error = c.failure;
        EXPECT_EQ(setup.saved_state(), expected) << c.name;
    }
}

}  // namespace
}  // namespace tevra::test

namespace tevra::test {
namespace {

// Where the demo package puts its file: the profile's own local application data, whatever
// the caller's LOCALAPPDATA says.
fs::path installed_demo_file() {
    wchar_t profile[MAX_PATH];
    DWORD length = ::GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    return fs::path(std::wstring(profile, length)) / L"AppData" / L"Local" / L"TevraRemoteDemo" / L"tevra-demo.txt";
}

std::optional<std::wstring> installed_demo_version() {
    wchar_t value[256];
    DWORD size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\TevraRemoteDemo", L"ExpectedVersion", RRF_RT_REG_SZ, nullptr,
                       value, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(value);
}

// The prefix's own Windows Installer really installs the package, signed or not.
TEST(RealInstaller, InstallsUnsignedAndSignedPackages) {
    struct Case {
        const wchar_t* package;
        std::u16string version;
    };
    for (const Case& c : {Case{L"demo.msi", u"3.1.4"}, Case{L"demo-signed.msi", u"3.1.5"}}) {
        Layout layout(false);
        fs::remove(installed_demo_file());
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TevraRemoteDemo");
        fs::create_directories(layout.staging / L"3.1");
        fs::copy_file(package_file(c.package), layout.staging / L"3.1" / c.package);

        RunResult result = layout.apply(u16(layout.staging / L"3.1" / c.package), c.version);
        EXPECT_EQ(result.exit_code, 0u) << result.stderr_bytes;
        EXPECT_EQ(result.stderr_bytes, "");
        EXPECT_TRUE(fs::is_regular_file(installed_demo_file())) << utf8(installed_demo_file());
        EXPECT_EQ(installed_demo_version(), std::wstring(c.version.begin(), c.version.end()));
        UpdateStateFile state = layout.saved_state();
        EXPECT_EQ(state.phase, UpdatePhase::awaiting_first_start);
        EXPECT_EQ(state.current_version, utf16_to_utf8_lossy(c.version));
        EXPECT_EQ(state.last_error, std::nullopt);
    }
}

// Run in a prefix that has no Windows Installer (the test run makes one); skipped elsewhere.
TEST(NoInstaller, ProgramNotFoundIsRecorded) {
    wchar_t system_dir[MAX_PATH];
    UINT length = ::GetSystemDirectoryW(system_dir, MAX_PATH);
    if (fs::exists(fs::path(std::wstring(system_dir, length)) / L"msiexec.exe")) {
        GTEST_SKIP() << "this system has an installer";
    }
    Layout layout(false);
    fs::path package = layout.stage(L"pkg.msi");
    write_file(layout.state, state_to_json(stored_record).value());
    RunResult result = layout.apply(u16(package));
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.stderr_bytes, "updater error: program not found\n");
    UpdateStateFile expected = stored_record;
    expected.phase = UpdatePhase::failed;
    expected.last_error = "program not found";
    EXPECT_EQ(layout.saved_state(), expected);
}

}  // namespace
}  // namespace tevra::test

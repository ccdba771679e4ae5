// Applying a staged package with the real updater: the stand-in installer where the outcome must be chosen, the
// prefix's own Windows Installer on a real package.
#include "harness.hpp"

namespace e2e {
namespace {

const Rec stored{"downloaded", "1.0", "2.4.0", "C:\\old.msi", "earlier failure", "0.9", "1234"};
const std::wstring demo = L"%B\\packages\\demo.msi", pkg = L"%U\\pkg.msi", deep = L"%U\\a\\b\\c\\pkg.msi";
const std::string outside = "msi outside update staging", not_found = "msi not found";
const Step staged{Op::copy, pkg, demo}, updates{Op::dir, L"%U"};

std::wstring apply_line(const std::wstring& package, const std::wstring& version = L"2.4.0") {
    return L"u --apply-msi \"" + package + L"\" --expected-version \"" + version + L"\"";
}

std::string installed(Rec rec, const std::string& version) {
    rec.phase = "awaiting_first_start";
    rec.current = version;
    rec.candidate = version;
    rec.error.reset();
    return rec.text();
}

// The installer gets the package's canonical path, and the record the new version.
Row accepted(std::string name, std::vector<Step> setup, const std::wstring& package, const std::wstring& canonical,
             const std::wstring& version = L"EXPECTEDVERSION=2.4.0") {
    return {.name = std::move(name),
            .line = apply_line(package),
            .setup = std::move(setup),
            .before = stored.text(),
            .err = stand_in_err,
            .after = installed(stored, "2.4.0"),
            .installer = L"\"msiexec\" /i \"\\\\?\\" + canonical + L"\" /qb REBOOT=ReallySuppress " + version};
}

// Refused before any installer starts.
Row refused(std::string name, std::vector<Step> setup, const std::wstring& package, const std::string& message) {
    Row row = failure(std::move(name), apply_line(package), message, stored);
    row.setup = std::move(setup);
    return row;
}

Row outcome(const std::wstring& exit, const std::string& failure) {
    Row row = accepted("installer exit " + utf8(exit), {staged}, pkg, pkg, L"\"EXPECTEDVERSION=2.5 beta\"");
    row.line = apply_line(pkg, L"2.5 beta");
    row.installer_exit = exit;
    row.after = failure.empty() ? installed(stored, "2.5 beta") : failed(stored, failure);
    row.err += failure.empty() ? "" : error_line(failure);
    row.exit = failure.empty() ? 0 : 1;
    return row;
}

TEST(Apply, OutcomeAndTrust) {
    Row empty_version = accepted("an empty version, and no state file", {staged}, pkg, pkg, L"EXPECTEDVERSION=");
    empty_version.line = apply_line(pkg, L"");
    empty_version.before = std::nullopt;  // so a save before the installer ended would show
    empty_version.after = installed(Rec{}, "");
    Row any_order = accepted("options in any order, the last path wins", {staged}, pkg, pkg);
    any_order.line = L"u --expected-version 2.4.0 --apply-msi \"%U\\a.msi\" --apply-msi \"%U\\pkg.msi\"";
    run_rows({
        outcome(L"0", ""),
        outcome(L"1603", "msiexec failed: Some(1603)"),
        outcome(L"3010", "msiexec failed: Some(3010)"),
        outcome(L"3221225477", "msiexec failed: Some(-1073741819)"),
        empty_version,
        any_order,
        accepted("a signed package", {{Op::copy, pkg, L"%B\\packages\\demo-signed.msi"}}, pkg, pkg),
        refused("a text file named .msi", {{Op::text, pkg, L"no package\r\n"}}, pkg,
                "Authenticode check failed (Invalid); refusing apply"),
        // The system's text for the failed start, with its insert left as it is, then the code.
        refused("an installer that does not start", {staged, {Op::text, L"%D\\bin\\msiexec.exe", L"text"}}, pkg,
                "Bad EXE format for %1. (os error 193)"),
    });
}

TEST(Apply, OnlyWhatReallyLiesInTheStagingDirectory) {
    const Step package{Op::copy, deep, demo}, beside{Op::copy, L"%P\\pkg.msi", demo};
    run_rows({
        accepted("deep below Updates", {package}, deep, deep),
        accepted("another letter case", {package}, L"%P\\UPDATES\\A\\b\\C\\PKG.MSI", deep),
        accepted("forward slashes", {package}, L"%D/lad/Tevra Remote/Updates/a/b/c/pkg.msi", deep),
        accepted("relative, with ..", {package}, L"lad\\Tevra Remote\\Updates\\a\\..\\a\\b\\c\\pkg.msi", deep),
        accepted("a link resolving inside", {package, {Op::link, L"%D\\link.msi", deep}}, L"%D\\link.msi", deep),
        accepted("LOCALAPPDATA in another letter case", {package, {Op::set, L"LOCALAPPDATA", L"%D\\LAD"}}, deep, deep),
        refused("a sibling named Updates2", {updates, {Op::copy, L"%P\\Updates2\\pkg.msi", demo}},
                L"%P\\Updates2\\pkg.msi", outside),
        refused("a link inside to a file outside", {{Op::copy, L"%D\\pkg.msi", demo}, {Op::link, pkg, L"%D\\pkg.msi"}},
                pkg, outside),
        refused("a directory link inside to a folder outside",
                {{Op::copy, L"%D\\out\\pkg.msi", demo}, {Op::link, L"%U\\out", L"%D\\out"}}, L"%U\\out\\pkg.msi",
                outside),
        refused(".. out of Updates", {beside, updates}, L"%U\\..\\pkg.msi", outside),
        refused("no staging directory", {beside}, L"%P\\pkg.msi", outside),
        refused("verbatim: .. is a name", {beside, updates}, L"\\\\?\\%U\\..\\pkg.msi", not_found),
        refused("missing", {updates}, pkg, not_found),
        refused("a directory", {{Op::dir, pkg}}, pkg, not_found),
        refused("held open without sharing: found, but unreadable for the trust check", {staged, {Op::hold, pkg}}, pkg,
                "Authenticode check failed (Invalid); refusing apply"),
        refused("Updates itself", {updates}, L"%U", not_found),
        refused("a broken link",
                {{Op::text, L"%D\\gone", L"gone"}, {Op::link, pkg, L"%D\\gone"}, {Op::remove, L"%D\\gone"}}, pkg,
                not_found),
        refused("an empty path", {updates}, L"", not_found),
    });
}

// The prefix's own Windows Installer installs for the profile, whatever LOCALAPPDATA says.
TEST(Apply, RealInstaller) {
    wchar_t profile[MAX_PATH];
    const fs::path file = std::wstring(profile, ::GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH)) +
                          L"\\AppData\\Local\\TevraRemoteDemo\\tevra-demo.txt";
    fs::remove(file);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TevraRemoteDemo");
    run_row({.name = "real msiexec",
             .line = apply_line(L"%U\\3.1\\demo.msi", L"3.1.4"),
             .setup = {{Op::remove, L"%D\\bin\\msiexec.exe"}, {Op::copy, L"%U\\3.1\\demo.msi", demo}},
             .before = stored.text(),
             .after = installed(stored, "3.1.4")});
    EXPECT_TRUE(fs::is_regular_file(file));
    wchar_t version[64] = {};
    DWORD size = sizeof version;
    ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\TevraRemoteDemo", L"ExpectedVersion", RRF_RT_REG_SZ, nullptr, version,
                   &size);
    EXPECT_EQ(std::wstring(version), L"3.1.4");
}

// Run in a prefix made without the Windows Installer (ctest makes one); skipped elsewhere.
TEST(NoInstaller, SearchesItsFolderTheSystemAndPathButNeverTheWorkingDirectory) {
    wchar_t system[MAX_PATH];
    if (fs::exists(std::wstring(system, ::GetSystemDirectoryW(system, MAX_PATH)) + L"\\msiexec.exe"))
        GTEST_SKIP() << "this prefix has a Windows Installer";
    const Step no_stand_in{Op::remove, L"%D\\bin\\msiexec.exe"};
    run_rows({
        refused("only in the working directory",
                {staged, no_stand_in, {Op::copy, L"%D\\msiexec.exe", L"%B\\installer_stub.exe"}}, pkg,
                "program not found"),
        accepted("on PATH, in a quoted entry",
                 {staged,
                  no_stand_in,
                  {Op::copy, L"%D\\on;path\\msiexec.exe", L"%B\\installer_stub.exe"},
                  {Op::set, L"PATH", L"%D\\missing;;\"%D\\on;path\""}},
                 pkg, pkg),
    });
}

}  // namespace
}  // namespace e2e

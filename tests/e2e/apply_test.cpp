// Applying a staged package with the real updater: the stand-in installer where the outcome must be chosen, the
// prefix's own Windows Installer on a real package. The outcome's texts are the unit table's; here one row per check.
#include "harness.hpp"
#include "platform.hpp"

#include <shlobj.h>

namespace e2e {
namespace {

const std::wstring demo = L"%B\\packages\\demo.msi", pkg = L"%U\\pkg.msi", deep = L"%U\\a\\b\\c\\pkg.msi";
const std::wstring stub = L"%B\\installer_stub.exe";
const Step staged{Op::copy, pkg, demo}, staged_deep{Op::copy, deep, demo},
    no_stand_in{Op::remove, L"%D\\bin\\msiexec.exe"};
const std::string invalid = "Authenticode check failed (Invalid); refusing apply";
const std::string installed = R"({
  "phase": "awaiting_first_start",
  "current_version": "2.4.0",
  "candidate_version": "2.4.0",
  "staged_msi": "C:\\old.msi",
  "last_error": null,
  "last_accepted_version": "0.9",
  "updated_unix": 1234
})";

std::wstring apply_line(const std::wstring& package) {
    return L"u --apply-msi \"" + package + L"\" --expected-version 2.4.0";
}

// The installer gets the package's canonical path, and the record the new version.
Row accepted(std::string name, std::vector<Step> setup, const std::wstring& package, const std::wstring& canonical) {
    const std::wstring line =
        L"\"msiexec\" /i \"\\\\?\\" + canonical + L"\" /qb REBOOT=ReallySuppress EXPECTEDVERSION=2.4.0";
    return {std::move(name), apply_line(package), std::move(setup), stored, 0, stored, installed, {}, line};
}

// The stored record after a failure with this text.
std::string failed_stored(const std::string& error) {
    const std::string up_to_the_error = R"({
  "phase": "failed",
  "current_version": "1.0",
  "candidate_version": "2.4.0",
  "staged_msi": "C:\\old.msi",
  "last_error": ")";
    return up_to_the_error + error + R"(",
  "last_accepted_version": "0.9",
  "updated_unix": 1234
})";
}

// Refused before any installer starts.
Row refused(std::string name, std::vector<Step> setup, const std::wstring& package, const std::string& message) {
    const std::string line = "updater error: " + message + "\n";
    return {std::move(name), apply_line(package), std::move(setup), stored, 1, line, failed_stored(message)};
}

TEST(Apply, OutcomeAndTrust) {
    // The stand-in scribbles over the state file: the record saved is the one loaded before.
    Row failed = accepted("installer exit 1603", {staged}, pkg, pkg);
    failed.setup.push_back({Op::set, L"TEVRA_STUB_EXIT", L"1603"});
    failed.err += "updater error: msiexec failed: Some(1603)\n";
    failed.exit = 1;
    failed.after = failed_stored("msiexec failed: Some(1603)");
    run_rows({
        accepted("an unsigned package", {staged}, pkg, pkg),
        failed,
        refused("a text file named .msi", {{Op::text, pkg, L"no package\r\n"}}, pkg, invalid),
        // The system's text for the failed start, with its insert left as it is, then the code.
        refused("an installer that does not start", {staged, {Op::text, L"%D\\bin\\msiexec.exe", L"text"}}, pkg,
                os_error(193, "Bad EXE format for %1.")),
    });
}

// A signature that Wine takes as valid and Windows refuses.
void signed_package(const std::string& package) {
    const std::vector<Step> setup = {{Op::copy, pkg, L"%B\\packages\\" + std::wstring(package.begin(), package.end())}};
    run_rows({expects_wine() ? accepted(package, setup, pkg, pkg) : refused(package, setup, pkg, invalid)});
}
TEST(Apply, SelfSignedPackage) { signed_package("demo-signed.msi"); }
TEST(Apply, PackageAlteredAfterSigning) { signed_package("demo-altered.msi"); }

// The stand-in installer renames the folder of the package that the updater holds.
TEST(Apply, FolderRenameDuringHold) {
    Row row = accepted("the package's folder", {staged, {Op::set, L"TEVRA_STUB_PROBE", L"folder"}}, pkg, pkg);
    row.err += expects_wine() ? "folder rename 0\n" : "folder rename 5\n";
    run_rows({row});
}

// Wine's GetFinalPathNameByHandleW fails for a path longer than about 260 units, whatever buffer it is given.
TEST(Apply, StagingPathLongerThanMaxPath) {
    const std::wstring long_pkg = L"%U\\" + std::wstring(120, L'a') + L"\\" + std::wstring(120, L'b') + L"\\pkg.msi";
    const std::vector<Step> setup = {{Op::copy, long_pkg, demo}};
    run_rows({expects_wine() ? refused("a long path", setup, long_pkg, os_error(234, "More data available."))
                             : accepted("a long path", setup, long_pkg, long_pkg)});
}

// Containment goes by the path the file system reports, after links; the component rule is the unit table's.
TEST(Apply, OnlyWhatReallyLiesInTheStagingDirectory) {
    const std::string outside = "msi outside update staging";
    run_rows({
        accepted("relative, with .., forward slashes and another letter case", {staged_deep},
                 L"AppData/local/Tevra Remote/UPDATES/a/../A/b/c/PKG.MSI", deep),
        accepted("a link resolving inside", {staged_deep, {Op::link, L"%D\\link.msi", deep}}, L"%D\\link.msi", deep),
        accepted("LOCALAPPDATA in another letter case",
                 {staged_deep, {Op::set, L"LOCALAPPDATA", L"%D\\APPDATA\\LOCAL"}}, deep, deep),
        refused("a link inside to a file outside", {{Op::copy, L"%D\\pkg.msi", demo}, {Op::link, pkg, L"%D\\pkg.msi"}},
                pkg, outside),
        refused("no staging directory", {{Op::copy, L"%P\\pkg.msi", demo}}, L"%P\\pkg.msi", outside),
        refused("a directory", {{Op::dir, pkg}}, pkg, "msi not found"),
        refused("held without sharing: found, but not to be held", {staged, {Op::hold, pkg}}, pkg,
                os_error(32, "Sharing violation.")),
        refused("locked by another process", {staged, {Op::lock, pkg}}, pkg, os_error(33, "Lock violation.")),
    });
}

// What the checks saw is what the installer gets, and nothing beside the updater or in its arguments bends the run.
TEST(Apply, NothingBetweenCheckAndUse) {
    Row probed = accepted("the installer reads the checked package and can't change it",
                          {staged, {Op::set, L"TEVRA_STUB_PROBE", L"1"}}, pkg, pkg);
    probed.err += "package d0cf11e0, write 32, rename 32\n";
    const std::wstring planted = L"%B\\planted\\MSISIP.dll";
    // Refused before the package is looked at: there is none.
    Row quoted = refused("a version holding a double quote", {}, pkg, "expected version contains a double quote");
    quoted.line = L"u --apply-msi \"%U\\pkg.msi\" --expected-version \"1.2\\\" /i x.msi\"";
    run_rows({
        quoted,
        probed,
        accepted("a DLL planted beside the updater and in its working folder",
                 {{Op::copy, pkg, L"%B\\packages\\demo.msi"},
                  {Op::copy, L"%D\\bin\\MSISIP.dll", planted},
                  {Op::copy, L"%D\\MSISIP.dll", planted}},
                 pkg, pkg),
    });
}

// The system's Windows Installer installs the package given by its canonical path: its one component records the
// version and installs a file in the account's own local application data. Removed afterwards, as it came.
TEST(Apply, RealInstaller) {
    const auto recorded = [] {
        wchar_t version[64] = {};
        DWORD size = sizeof version;
        ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\TevraRemoteDemo", L"ExpectedVersion", RRF_RT_REG_SZ, nullptr,
                       version, &size);
        return std::wstring(version);
    };
    wchar_t* local = nullptr;
    ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local);
    const fs::path installed_file = fs::path(local) / L"TevraRemoteDemo\\tevra-demo.txt";
    ::CoTaskMemFree(local);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TevraRemoteDemo");
    const std::wstring msi = L"%U\\3.1\\demo.msi";
    run_rows({{"real msiexec", apply_line(msi), {no_stand_in, {Op::copy, msi, demo}}, stored, 0, "", installed}});
    EXPECT_EQ(recorded(), L"2.4.0");
    EXPECT_TRUE(fs::exists(installed_file)) << installed_file;

    wchar_t system[MAX_PATH];
    const fs::path msiexec = std::wstring(system, ::GetSystemDirectoryW(system, MAX_PATH)) + L"\\msiexec.exe";
    const std::wstring uninstall = L"msiexec /x \"" + (build_dir() / L"packages\\demo.msi").wstring() + L"\" /qn";
    EXPECT_EQ(start(msiexec, uninstall, test_dir()).finish(), 0u);
    EXPECT_EQ(recorded(), L"");
    EXPECT_FALSE(fs::exists(installed_file)) << installed_file;
}

// Run in a prefix made without the Windows Installer (ctest makes one); skipped elsewhere.
TEST(NoInstaller, SearchesItsFolderTheSystemAndPathButNeverTheWorkingDirectory) {
    wchar_t system[MAX_PATH];
    if (fs::exists(std::wstring(system, ::GetSystemDirectoryW(system, MAX_PATH)) + L"\\msiexec.exe"))
        GTEST_SKIP() << "this prefix has a Windows Installer";
    run_rows({
        // "." names the working directory, which is never searched: a relative PATH entry is skipped.
        refused("PATH=. and a stand-in in the working directory",
                {staged, no_stand_in, {Op::copy, L"%D\\msiexec.exe", stub}, {Op::set, L"PATH", L"."}}, pkg,
                "program not found"),
        accepted("on PATH",
                 {staged, no_stand_in, {Op::copy, L"%D\\p\\msiexec.exe", stub}, {Op::set, L"PATH", L"%D\\p"}}, pkg,
                 pkg),
    });
}

}  // namespace
}  // namespace e2e

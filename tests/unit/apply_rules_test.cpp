#include "driver/apply/apply_rules.hpp"
#include "common/paths.hpp"
#include "trust/verdict.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

TEST(Containment, GoesByWholeComponents) {
    const std::u16string staging = u"\\\\?\\C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates";
    struct Case {
        std::u16string path, dir;
        bool inside;
    };
    const Case cases[] = {
        {staging + u"\\pkg.msi", staging, true},
        {staging + u"\\a\\b\\c\\pkg.msi", staging, true},
        {staging, staging, true},
        {u"\\\\?\\c:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates\\p.msi", staging, true},
        {staging + u"\\\\p.msi", staging + u"\\", true},
        {u"\\\\?\\C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates2\\p.msi", staging, false},
        {u"\\\\?\\C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\updates\\p.msi", staging, false},
        {u"\\\\?\\C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\p.msi", staging, false},
        {u"\\\\?\\D:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates\\p.msi", staging, false},
        // A plain drive path is never the same prefix as a verbatim one.
        {staging + u"\\p.msi", u"C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates", false},
        {staging + u"\\p.msi", u"Tevra Remote\\Updates", false},
        {u"C:/x/Updates/p.msi", u"c:\\x\\Updates", true},
        {u"\\\\?\\C:/x/Updates/p.msi", u"\\\\?\\C:\\x\\Updates", false},  // no forward slashes after \\?\ .
        {u"\\\\?\\UNC\\srv\\share\\Updates\\p.msi", u"\\\\?\\UNC\\srv\\share\\Updates", true},
        {u"\\\\?\\UNC\\srv\\other\\Updates\\p.msi", u"\\\\?\\UNC\\srv\\share\\Updates", false},
        {u"\\\\?\\UNC\\srv\\share\\Updates\\p.msi", u"\\\\srv\\share\\Updates", false},
        {u"\\\\?\\GLOBALROOT\\Device\\X\\Updates\\p.msi", u"\\\\?\\C:\\x\\Updates", false},
        {u"\\\\.\\C:\\x\\Updates\\p.msi", u"\\\\?\\C:\\x\\Updates", false},
        // "." means nothing in a plain path but is a name of its own in a verbatim one; ".." is
        // never resolved here (the package path is canonical by then).
        {u"C:\\x\\.\\Updates\\p.msi", u"C:\\x\\Updates\\.", true},
        {u"\\\\?\\C:\\x\\.\\Updates\\p.msi", u"\\\\?\\C:\\x\\Updates", false},
        {u"\\\\?\\C:\\x\\.\\p.msi", u"\\\\?\\C:\\x\\.", true},
        {u"C:\\x\\..\\Updates\\p.msi", u"C:\\Updates", false},
        {u"C:\\Updates\\..\\p.msi", u"C:\\Updates", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(path_starts_with(c.path, c.dir), c.inside)
            << std::string(c.path.begin(), c.path.end()) << " in " << std::string(c.dir.begin(), c.dir.end());
    }
}

TEST(Verdict, OnlyNoSignatureIsUnsigned) {
    EXPECT_EQ(verdict_from_status(0), AuthenticodeVerdict::Valid);
    EXPECT_EQ(verdict_from_status(0x800B0100), AuthenticodeVerdict::Unsigned);
    for (std::uint32_t status : {0x800B0003u, 0x800B0001u, 0x80096010u, 2u, 0x800B0101u}) {
        EXPECT_EQ(verdict_from_status(status), AuthenticodeVerdict::Invalid) << status;
    }
    EXPECT_EQ(refusal_message(AuthenticodeVerdict::Invalid), "Authenticode check failed (Invalid); refusing apply");
}

TEST(InstallerExit, ZeroAwaitsFirstStartAndAnythingElseFails) {
    const UpdateStateFile loaded{UpdatePhase::downloaded, "1.0", "1.1", "C:\\s.msi", "old error", "0.9", 77};
    UpdateStateFile state = loaded;
    EXPECT_EQ(record_installer_exit(state, 0, "2.4 beta"), std::nullopt);
    EXPECT_EQ(state, (UpdateStateFile{UpdatePhase::awaiting_first_start, "2.4 beta", "2.4 beta", "C:\\s.msi",
                                      std::nullopt, "0.9", 77}));

    struct Case {
        std::int32_t code;
        std::string text;
    };
    for (const Case& c : {Case{1603, "Some(1603)"}, Case{3010, "Some(3010)"}, Case{1641, "Some(1641)"},
                          Case{static_cast<std::int32_t>(3221225477u), "Some(-1073741819)"}}) {
        state = loaded;
        EXPECT_EQ(record_installer_exit(state, c.code, "2.0"), "msiexec failed: " + c.text);
        UpdateStateFile expected = loaded;
        expected.phase = UpdatePhase::failed;
        expected.last_error = "msiexec exit " + c.text;
        EXPECT_EQ(state, expected);
    }
}

}  // namespace
}  // namespace tevra

// Path texts: the hand-over form, the component rule and parents (joining is the product layout table's).
#include "common/paths.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

TEST(SystemPathForm, ShortAbsolutePathsPassAndOthersAreExtended) {
    struct Case {
        std::u16string path;
        bool unchanged;
    };
    const Case cases[] = {
        {u"\\\\?\\C:\\x", true},
        {u"\\??\\C:\\x", true},
        {u"C:\\x", true},
        {u"C:", true},
        {u"\\\\server\\share\\x", true},
        {u"C:x", false},
        {u"\\x", false},
        // The longest plain path the system takes as it is: 246 units (247 with the final NUL).
        {u"C:\\" + std::u16string(243, u'a'), true},
        {u"C:\\" + std::u16string(244, u'a'), false},
        {u"\\\\server\\" + std::u16string(237, u'a'), true},
        {u"\\\\server\\" + std::u16string(238, u'a'), false},
    };
    for (const Case& c : cases) EXPECT_EQ(passes_to_system_unchanged(c.path), c.unchanged);
    EXPECT_EQ(extended_length_form(u"C:\\a\\b"), u"\\\\?\\C:\\a\\b");
    EXPECT_EQ(extended_length_form(u"\\\\server\\share\\a"), u"\\\\?\\UNC\\server\\share\\a");
    EXPECT_EQ(extended_length_form(u"\\\\.\\pipe\\p"), u"\\\\?\\pipe\\p");
}

TEST(Containment, GoesByWholeComponents) {
    const std::u16string staging = u"\\\\?\\C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates";
    struct Case {
        std::u16string path, dir;
        bool inside;
    };
    const Case cases[] = {
        {staging + u"\\pkg.msi", staging, true},
        {staging, staging, true},
        {u"\\\\?\\c:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates\\p.msi", staging, true},
        {u"\\\\?\\C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates2\\p.msi", staging, false},
        {u"\\\\?\\C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\updates\\p.msi", staging, false},
        {u"\\\\?\\D:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates\\p.msi", staging, false},
        // A plain drive path is never the same prefix as a verbatim one.
        {staging + u"\\p.msi", u"C:\\Users\\ann\\AppData\\Local\\Tevra Remote\\Updates", false},
        {staging + u"\\p.msi", u"Tevra Remote\\Updates", false},
        {u"C:/x/Updates/p.msi", u"c:\\x\\Updates", true},
        {u"z:\\p.msi", u"Z:\\", true},
        {u"a:\\p.msi", u"A:\\", true},
        {u"\\\\?\\C:/x/Updates/p.msi", u"\\\\?\\C:\\x\\Updates", false},  // no forward slashes after \\?\ .
        {u"\\\\?\\UNC\\srv\\share\\Updates\\p.msi", u"\\\\?\\UNC\\srv\\share\\Updates", true},
        {u"\\\\?\\UNC\\srv\\share\\Updates\\p.msi", u"\\\\srv\\share\\Updates", false},
        {u"\\\\?\\GLOBALROOT\\Device\\X\\Updates\\p.msi", u"\\\\?\\C:\\x\\Updates", false},
        {u"\\\\.\\C:\\x\\Updates\\p.msi", u"\\\\?\\C:\\x\\Updates", false},
        // A verbatim or device prefix is a component of its own, whatever follows it.
        {u"\\\\?\\Updates\\p.msi", u"Updates", false},
        {u"\\\\?\\ab\\x", u"\\\\?\\a:\\", false},
        {u"\\\\.\\pipe\\p", u"pipe", false},
        {u"\\\\.\\pipe\\p", u"\\\\.\\", false},
        // "." means nothing in a plain path but is a name of its own in a verbatim one; ".." is
        // never resolved here (the package path is canonical by then).
        {u"C:\\x\\.\\Updates\\p.msi", u"C:\\x\\Updates\\.", true},
        {u"\\\\?\\C:\\x\\.\\Updates\\p.msi", u"\\\\?\\C:\\x\\Updates", false},
        {u"C:\\x\\..\\Updates\\p.msi", u"C:\\Updates", false},
        // Network shares: server and share compare exactly, a server without its share is another prefix.
        {u"\\\\srv\\share\\Updates\\p.msi", u"\\\\srv\\share\\Updates", true},
        {u"\\\\srv\\share", u"\\\\srv\\share\\x", false},
        {u"\\\\srv\\share\\x", u"\\\\srv", false},
        {u"\\\\?\\UNC\\srv\\share\\x", u"\\\\?\\UNC\\srv", false},
        // Relative and rooted paths have no prefix; a root is a component of its own.
        {u"Updates\\p.msi", u"Updates", true},
        {u"\\Updates\\p.msi", u"Updates", false},
        {u"\\Updates\\p.msi", u"\\Updates", true},
        {u"C:Updates\\p.msi", u"C:\\Updates", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(path_starts_with(c.path, c.dir), c.inside)
            << testing::PrintToString(c.path) << " in " << testing::PrintToString(c.dir);
    }
}

TEST(ParentOf, DropsTheLastNameAndKeepsRoots) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"C:\\a\\b\\", u"C:\\a"},
        {u"C:\\a", u"C:\\"},
        {u"a/b/c", u"a/b"},
        {u"\\a", u"\\"},
        {u"\\\\srv", u"\\\\"},
        {u"Tevra Remote", u""},
        {u".\\Tevra Remote", u"."},
        {u"\\", u""},
        {u"\\\\", u""},
    };
    for (const auto& [path, parent] : cases) EXPECT_EQ(parent_of(path), parent) << testing::PrintToString(path);
}

TEST(DirectoryOf, KeepsTheSeparator) {
    EXPECT_EQ(directory_of(u"C:\\bin\\u.exe"), u"C:\\bin\\");
    EXPECT_EQ(directory_of(u"C:/bin/u.exe"), u"C:/bin/");
    EXPECT_EQ(directory_of(u"C:\\u.exe"), u"C:\\");
    EXPECT_EQ(directory_of(u"C:u.exe"), std::nullopt);
}

}  // namespace
}  // namespace tevra

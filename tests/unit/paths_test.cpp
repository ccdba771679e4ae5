#include "common/paths.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

TEST(JoinPath, InsertsOneSeparatorOnlyWhereNeeded) {
    struct Case {
        std::u16string base, component, joined;
    };
    const Case cases[] = {
        {u"C:\\Users\\ann\\AppData\\Local", u"Tevra Remote", u"C:\\Users\\ann\\AppData\\Local\\Tevra Remote"},
        {u"C:\\Data\\", u"Tevra Remote", u"C:\\Data\\Tevra Remote"},
        {u"C:/Data/", u"x", u"C:/Data/x"},
        {u"C:", u"x", u"C:x"},
        {u"", u"Tevra Remote", u"Tevra Remote"},
        {u".", u"Tevra Remote", u".\\Tevra Remote"},
    };
    for (const Case& c : cases) EXPECT_EQ(join_path(c.base, c.component), c.joined);
}

TEST(SystemPathForm, ShortAbsolutePathsPassAndOthersAreExtended) {
    const std::u16string long_tail(250, u'a');
    struct Case {
        std::u16string path;
        bool unchanged;
    };
    const Case cases[] = {
        {u"\\\\?\\C:\\x", true},
        {u"\\??\\C:\\x", true},
        {u"C:\\x", true},
        {u"c:/x", true},
        {u"C:", true},
        {u"\\\\server\\share\\x", true},
        {u"C:x", false},
        {u"Tevra Remote", false},
        {u".\\Tevra Remote", false},
        {u"\\x", false},
        {u"C:\\" + long_tail, false},
        {u"\\\\?\\C:\\" + long_tail, true},
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

}  // namespace
}  // namespace tevra

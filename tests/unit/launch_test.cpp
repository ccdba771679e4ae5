// Where a program named without a folder is looked for. How the child's command line is quoted is checked by the
// command-line fuzz target (splitting gives the built arguments back) and the installer-arguments row (its exact text).
#include "driver/launch.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

using Dirs = std::vector<std::u16string>;

TEST(SearchDirectories, OwnFolderSystemWindowsThenAbsolutePathEntries) {
    EXPECT_EQ(search_directories(u"C:\\bin\\", u"C:\\Windows\\system32", u"C:\\Windows", u"D:\\a;\"D:\\b;c\";;E:\\"),
              (Dirs{u"C:\\bin\\", u"C:\\Windows\\system32", u"C:\\Windows", u"D:\\a", u"D:\\b;c", u"E:\\"}));
    // Unknown or empty directories are left out: "" would mean the current directory.
    EXPECT_EQ(search_directories(std::nullopt, u"", std::nullopt, std::nullopt), Dirs{});
    // So are relative entries, which the current directory or drive would complete.
    EXPECT_EQ(search_directories(std::nullopt, std::nullopt, std::nullopt,
                                 u".;bin;C:x;\\tools;C:;1:\\z;A:\\a;Z:\\;a:\\;\\\\srv\\share;\\\\?\\F:\\x;z:/y"),
              (Dirs{u"A:\\a", u"Z:\\", u"a:\\", u"\\\\srv\\share", u"\\\\?\\F:\\x", u"z:/y"}));
}

}  // namespace
}  // namespace tevra

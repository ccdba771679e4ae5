// Where a program named without a folder is looked for.
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
                                 u".;bin;C:x;\\tools;C:;D:\\a;\\\\srv\\share;\\\\?\\F:\\x;g:/y"),
              (Dirs{u"D:\\a", u"\\\\srv\\share", u"\\\\?\\F:\\x", u"g:/y"}));
}

TEST(SplitSearchPath, SemicolonsOutsideQuotesSeparate) {
    const std::pair<std::u16string, Dirs> variables[] = {
        {u";;;", {}},
        {u"\"C:\\Program Files\";x\"y;z\"w", {u"C:\\Program Files", u"xy;zw"}},
        {u"\"\";a;\"b;c", {u"a", u"b;c"}},  // empty quotes skipped; an open quote runs to the end
        {u" ;a ", {u" ", u"a "}},
    };
    for (const auto& [variable, dirs] : variables) EXPECT_EQ(split_search_path(variable), dirs);
}

}  // namespace
}  // namespace tevra

// Where the product keeps its files, from the environment's two variables.
#include "state/product_layout.hpp"

#include <gtest/gtest.h>

namespace tevra {
namespace {

TEST(ProductLayout, FallsBackFromLocalAppDataToTheProfileToTheCurrentDirectory) {
    using Value = std::optional<std::u16string>;
    struct Case {
        Value local_app_data, user_profile;
        std::u16string dir;
    };
    const Case cases[] = {
        {u"C:\\Users\\ann\\AppData\\Local", u"C:\\Users\\bob", u"C:\\Users\\ann\\AppData\\Local\\Tevra Remote"},
        {u"C:\\Data\\", std::nullopt, u"C:\\Data\\Tevra Remote"},
        {u"", u"C:\\Users\\bob", u"Tevra Remote"},  // defined but empty still counts
        {std::nullopt, u"C:\\Users\\ann", u"C:\\Users\\ann\\AppData\\Local\\Tevra Remote"},
        {std::nullopt, u"", u"AppData\\Local\\Tevra Remote"},
        {std::nullopt, std::nullopt, u".\\Tevra Remote"},
    };
    for (const Case& c : cases) EXPECT_EQ(product_layout(c.local_app_data, c.user_profile).product_dir, c.dir);
}

TEST(ProductLayout, PlacesEveryFileInTheProductDirectory) {
    const std::u16string p = u"C:\\lad\\Tevra Remote";
    EXPECT_EQ(product_layout(u"C:\\lad", std::nullopt),
              (ProductLayout{p, p + u"\\Updates", p + u"\\Updates\\Recovery", p + u"\\CrashReports",
                             p + u"\\update_state.json", p + u"\\update_state.json.tmp"}));
}

}  // namespace
}  // namespace tevra

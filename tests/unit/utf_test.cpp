// UTF-16 <-> UTF-8: the command line's arguments become UTF-8 (an unpaired surrogate stops the
// run), and texts become UTF-16 again on their way to the system.
#include "common/utf.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tevra {
namespace {

using namespace std::string_literals;

TEST(Utf16ToUtf8, EncodesEveryLengthAndRefusesUnpairedSurrogates) {
    struct Case {
        std::u16string text;
        std::optional<std::string> utf8;  // nothing: an unpaired surrogate
    };
    const Case cases[] = {
        {u"", ""},
        {u"a\0b"s, "a\0b"s},
        {u"\u007F\u0080\u07FF\u0800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
        {u"\uD7FF\uE000\uFFFF", "\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"},
        {u"\U00010000\U0010FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {u"C:\\\u00E9t\u00E9\\\U0001F600.msi", "C:\\\xC3\xA9t\xC3\xA9\\\xF0\x9F\x98\x80.msi"},
        {std::u16string{u'a', char16_t(0xD800)}, std::nullopt},
        {std::u16string{char16_t(0xDC00), u'a'}, std::nullopt},
        {std::u16string{char16_t(0xD83D), u'a', char16_t(0xDE00)}, std::nullopt},
        {std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(utf16_to_utf8(c.text), c.utf8) << testing::PrintToString(c.text);
}

TEST(Utf8ToUtf16, DecodesWellFormedTextAndReplacesEachBadByte) {
    struct Case {
        std::string utf8;
        std::u16string text;
    };
    const char16_t r = 0xFFFD;
    const Case cases[] = {
        {"", u""},
        {"a\0b"s, u"a\0b"s},
        {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", u"\u007F\u0080\u07FF\u0800\uFFFF"},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
        {"a\xFF"s + "b", {u'a', r, u'b'}},
        {"\xC0\xAF", {r, r}},         // overlong "/"
        {"\xE0\x80\xAF", {r, r, r}},  // overlong, three bytes
        {"\xED\xA0\x80", {r, r, r}},  // an encoded surrogate
        {"\xED\xBF\xBF", {r, r, r}},
        {"\xF4\x90\x80\x80", {r, r, r, r}},      // past U+10FFFF
        {"\xE2\x82", {r, r}},                    // cut short at the end
        {"\xC3"s + "\xC3\xA9", {r, u'\u00E9'}},  // a lead byte then a whole one
    };
    for (const Case& c : cases) EXPECT_EQ(utf8_to_utf16(c.utf8), c.text) << testing::PrintToString(c.utf8);
}

}  // namespace
}  // namespace tevra

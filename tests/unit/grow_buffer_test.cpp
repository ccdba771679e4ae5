// Reading a text through a query that reports the capacity it needs.
#include "common/grow_buffer.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tevra {
namespace {

// One answer of the fake query: what it reports (nothing: the call failed) and the text it writes.
struct Answer {
    std::optional<std::size_t> reported;
    std::u16string text = {};
};

TEST(ReadGrowing, GrowsToTheCapacityAskedForAndStopsWhereNoAnswerCanEnd) {
    struct Case {
        std::string name;
        std::vector<Answer> answers;
        std::optional<std::u16string> text;
        std::vector<std::size_t> capacities;  // the query saw
    };
    const Case cases[] = {
        {"fits", {{3, u"abc"}}, u"abc", {4}},
        {"needs more", {{9}, {8, u"12345678"}}, u"12345678", {4, 9}},
        {"needs more twice", {{9}, {20}, {19, std::u16string(19, u'x')}}, std::u16string(19, u'x'), {4, 9, 20}},
        {"shrinks on retry", {{9}, {2, u"ab"}}, u"ab", {4, 9}},
        {"fails", {{std::nullopt}}, std::nullopt, {4}},
        {"fails on retry", {{9}, {std::nullopt}}, std::nullopt, {4, 9}},
        {"cut off, asking for no more", {{4, u"abcd"}}, std::nullopt, {4}},
        {"needs the longest path", {{longest_text}, {1, u"a"}}, u"a", {4, longest_text}},
        {"needs more than the longest path", {{longest_text + 1}}, std::nullopt, {4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::size_t> capacities;
        auto query = [&](char16_t* buffer, std::size_t capacity) -> std::optional<std::size_t> {
            const Answer& answer = c.answers.at(capacities.size());
            capacities.push_back(capacity);
            std::copy_n(answer.text.begin(), std::min(answer.text.size(), capacity), buffer);
            return answer.reported;
        };
        EXPECT_EQ(read_growing(query, 4), c.text);
        EXPECT_EQ(capacities, c.capacities);
    }
}

}  // namespace
}  // namespace tevra

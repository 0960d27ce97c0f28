#include "core/suggestions.hpp"

#include <gtest/gtest.h>

using lumox::core::closest_names;
using lumox::core::did_you_mean;
using lumox::core::edit_distance;
using lumox::core::is_near_miss;

TEST(SuggestionsTest, TyposTestersMakeAreNearMisses) {
    EXPECT_EQ(edit_distance("requets", "request"), 1u); // swapped neighbours: one edit
    EXPECT_EQ(edit_distance("", "abc"), 3u);
    EXPECT_EQ(edit_distance("kitten", "sitting"), 3u);
    for (auto [word, name] : {std::pair{"reponse", "response"},
                              {"requets", "request"},
                              {"extarct", "extract"},
                              {"mark", "marks"},
                              {"test_nmae", "test_name"},
                              {"send_htp", "send_http"},
                              {"mok", "mock"}}) {
        EXPECT_TRUE(is_near_miss(word, name)) << word;
    }
    // Other plug-ins' own keys, exact names and far-off words are not.
    for (auto [word, name] : {std::pair{"sql", "mock"},
                              {"response", "response"},
                              {"wait", "validate"},
                              {"mk", "mock"},
                              {"", "mock"}}) {
        EXPECT_FALSE(is_near_miss(word, name)) << word;
    }
}

TEST(SuggestionsTest, ClosestFirstAndPhrased) {
    const std::vector<std::string> names = {"send_http", "set_http", "new_request", "send"};
    // One edit from both: ties keep the order of the names.
    EXPECT_EQ(closest_names("sed_http", names),
              (std::vector<std::string>{"send_http", "set_http"}));
    EXPECT_EQ(closest_names("sed_http", names, 1), (std::vector<std::string>{"send_http"}));
    EXPECT_EQ(closest_names("send_htp", names), (std::vector<std::string>{"send_http"}));
    EXPECT_TRUE(closest_names("zzz", names).empty());
    EXPECT_EQ(did_you_mean({}), "");
    EXPECT_EQ(did_you_mean({"a"}), "did you mean 'a'?");
    EXPECT_EQ(did_you_mean({"a", "b"}), "did you mean 'a' or 'b'?");
    EXPECT_EQ(did_you_mean({"a", "b", "c"}), "did you mean 'a', 'b' or 'c'?");
}

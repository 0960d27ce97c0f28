#include "core/jsonpath_check.hpp"

#include <gtest/gtest.h>

using lumox::core::jsonpath_problem;

TEST(JsonPathCheckTest, WellFormedPathsPass) {
    for (const char *path :
         {"$", "$.token", "$..id", "$.items[0].name", "$.items[*]", "$.items[?(@.price > 10)].name",
          "$['a]b'].c", "$.x[-1:]", "$[\"quoted (\"]"}) {
        EXPECT_EQ(jsonpath_problem(path), "") << path;
    }
}

TEST(JsonPathCheckTest, TyposAreNamed) {
    EXPECT_EQ(jsonpath_problem("$.[[[?"), "unclosed [");
    EXPECT_EQ(jsonpath_problem("token"), "a JSONPath starts with $");
    EXPECT_EQ(jsonpath_problem("$token"), "after $ comes . or [");
    EXPECT_EQ(jsonpath_problem("$.a]"), "unexpected ] at position 3");
    EXPECT_EQ(jsonpath_problem("$.a[?(@.b)]]"), "unexpected ] at position 11");
    EXPECT_EQ(jsonpath_problem("$.a[]"), "empty [] at position 3");
    EXPECT_EQ(jsonpath_problem("$['a"), "unclosed ' quote");
    EXPECT_EQ(jsonpath_problem("$.a."), "ends with . but no name follows");
}

#include "core/xpath.hpp"

#include <gtest/gtest.h>

using lumox::core::xpath_literal;

TEST(XPathLiteral, QuotesTheTextWithTheKindOfQuoteItLacks) {
    EXPECT_EQ(xpath_literal("Apple"), "'Apple'");
    EXPECT_EQ(xpath_literal(""), "''");
    EXPECT_EQ(xpath_literal("Rock 'n' Roll"), "\"Rock 'n' Roll\"");
    EXPECT_EQ(xpath_literal("The \"Best\""), "'The \"Best\"'");
    EXPECT_EQ(xpath_literal("苹果"), "'苹果'");
}

TEST(XPathLiteral, TextWithBothQuotesIsJoinedWithConcat) {
    EXPECT_EQ(xpath_literal("Both ' and \""), "concat('Both ', \"'\", ' and \"')");
    // Quotes at the ends and side by side leave no empty pieces.
    EXPECT_EQ(xpath_literal("'\"'"), "concat(\"'\", '\"', \"'\")");
    EXPECT_EQ(xpath_literal("''\""), "concat(\"'\", \"'\", '\"')");
}

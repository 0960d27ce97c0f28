#include "core/http_log_text.hpp"

#include <gtest/gtest.h>

#include <string>

using lumox::core::bytes_literal;
using lumox::core::centered;

TEST(Centered, LogBannersHaveTheirDashCounts) {
    const auto expect_banner = [](const char *title, std::size_t before, std::size_t after) {
        const std::string line = centered(title);
        EXPECT_EQ(line.size(), 80u) << title;
        EXPECT_EQ(line, std::string(before, '-') + title + std::string(after, '-'));
    };
    expect_banner("Rqeuest Start", 33, 34);
    expect_banner("Rqeuest End", 34, 35);
    expect_banner("Response Start", 33, 33);
    expect_banner("Response End", 34, 34);
}

TEST(Centered, OddWidthsAndLongTitlesFollowPythonCenter) {
    EXPECT_EQ(centered("abc", 7), "--abc--");
    EXPECT_EQ(centered("ab", 7), "---ab--"); // odd margin in an odd width: extra goes left
    EXPECT_EQ(centered("abc", 8), "--abc---");
    EXPECT_EQ(centered("abc", 3), "abc");
    EXPECT_EQ(centered("abcd", 3), "abcd");
    EXPECT_EQ(centered("", 4, '='), "====");
}

TEST(BytesLiteral, MatchesPythonRepr) {
    EXPECT_EQ(bytes_literal(""), "b''");
    EXPECT_EQ(bytes_literal("{\"a\": 1}"), "b'{\"a\": 1}'");
    // Expected texts are what repr() printed for the same bytes.
    EXPECT_EQ(bytes_literal("it's"), "b\"it's\"");
    EXPECT_EQ(bytes_literal("say \"hi\" it's"), "b'say \"hi\" it\\'s'");
    EXPECT_EQ(bytes_literal(std::string("\x00\t\n\r\\\x7f\xff", 7)),
              "b'\\x00\\t\\n\\r\\\\\\x7f\\xff'");
    EXPECT_EQ(bytes_literal("\xe4\xb8\xad"), "b'\\xe4\\xb8\\xad'"); // UTF-8 of a Chinese character
    EXPECT_EQ(bytes_literal(" ~"), "b' ~'");
    EXPECT_EQ(bytes_literal("\x1f"), "b'\\x1f'");
}

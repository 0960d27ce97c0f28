#include "core/text_check.hpp"

#include <gtest/gtest.h>

using namespace lumox::core;

TEST(TextMode, KnownWordsOnly) {
    EXPECT_EQ(parse_text_mode("glob"), TextMode::glob);
    EXPECT_EQ(parse_text_mode("same"), TextMode::same);
    EXPECT_EQ(parse_text_mode("re"), TextMode::re);
    EXPECT_EQ(parse_text_mode("contains"), TextMode::contains);
    EXPECT_FALSE(parse_text_mode("regex"));
    EXPECT_FALSE(parse_text_mode("Glob"));
    EXPECT_FALSE(parse_text_mode(""));
    for (TextMode mode : {TextMode::glob, TextMode::same, TextMode::re, TextMode::contains}) {
        EXPECT_EQ(parse_text_mode(text_mode_name(mode)), mode);
    }
}

TEST(PlainTextMatches, EachModeHasItsOwnMeaning) {
    // glob matches the whole text, wildcards active
    EXPECT_TRUE(plain_text_matches(TextMode::glob, "app*/json", "application/json"));
    EXPECT_FALSE(plain_text_matches(TextMode::glob, "json", "application/json"));
    // same takes wildcard characters literally
    EXPECT_TRUE(plain_text_matches(TextMode::same, "a*b", "a*b"));
    EXPECT_FALSE(plain_text_matches(TextMode::same, "a*b", "axb"));
    EXPECT_FALSE(plain_text_matches(TextMode::same, "abc", "abc "));
    // contains finds a part anywhere, the empty text included
    EXPECT_TRUE(plain_text_matches(TextMode::contains, "成功", "登录成功了"));
    EXPECT_TRUE(plain_text_matches(TextMode::contains, "", "x"));
    EXPECT_FALSE(plain_text_matches(TextMode::contains, "*", "abc"));
}

TEST(StatusAlternatives, ParsesPatternsSeparatedByBars) {
    auto single = parse_status_alternatives("200");
    EXPECT_TRUE(single.error.empty());
    EXPECT_EQ(single.patterns, std::vector<std::string>{"200"});

    auto several = parse_status_alternatives(" 200 |204|  3?? ");
    EXPECT_TRUE(several.error.empty());
    EXPECT_EQ(several.patterns, (std::vector<std::string>{"200", "204", "3??"}));
    EXPECT_EQ(join_alternatives(several.patterns), "200 | 204 | 3??");
    EXPECT_TRUE(status_matches(several.patterns, 204));
    EXPECT_TRUE(status_matches(several.patterns, 302));
    EXPECT_FALSE(status_matches(several.patterns, 201));
    EXPECT_FALSE(status_matches(several.patterns, 3000));
}

TEST(StatusAlternatives, RejectsTyposInsteadOfNeverMatching) {
    for (const char *bad : {"", "200 |", "| 200", "200 || 204", "200, 204", "ok", "20 0"}) {
        auto parsed = parse_status_alternatives(bad);
        EXPECT_FALSE(parsed.error.empty()) << bad;
        EXPECT_TRUE(parsed.patterns.empty()) << bad;
    }
    EXPECT_EQ(parse_status_alternatives("200, 204").error,
              "'200, 204' is not a status code pattern");
}

TEST(GlobHintTest, OnlyPatternsThatLookLiteralGetAHint) {
    using lumox::core::glob_hint;
    EXPECT_EQ(glob_hint("lumox", "lumox"), "");
    EXPECT_EQ(glob_hint("[\"lumox\"]", "[\"lumox\"]"),
              "in a glob pattern [ starts a set of characters and * and ? are wildcards, so the "
              "text itself does not match it: use mode: same to compare exactly");
    EXPECT_EQ(glob_hint("[a]", "b"),
              "in a glob pattern [ starts a set of characters and * and ? are wildcards: use "
              "mode: same to compare exactly");
    EXPECT_EQ(glob_hint("tok-*", "not data"), ""); // a wildcard meant as one
    EXPECT_NE(glob_hint("a*", "a*"), "");
}

#include "core/glob.hpp"

#include <gtest/gtest.h>

using lumox::core::glob_match;

TEST(GlobMatch, WildcardsMatchWholeText) {
    EXPECT_TRUE(glob_match("200", "200"));
    EXPECT_FALSE(glob_match("20", "200"));
    EXPECT_TRUE(glob_match("2*", "204"));
    EXPECT_TRUE(glob_match("*ok*", "all ok here"));
    EXPECT_FALSE(glob_match("*ok", "ok then"));
    EXPECT_TRUE(glob_match("a?c", "abc"));
    EXPECT_FALSE(glob_match("a?c", "ac"));
    EXPECT_TRUE(glob_match("*", ""));
    EXPECT_FALSE(glob_match("?", ""));
    EXPECT_TRUE(glob_match("a*b*c", "aXXbYYbc"));
}

TEST(GlobMatch, CharacterSets) {
    EXPECT_TRUE(glob_match("[0-9][0-9]", "42"));
    EXPECT_FALSE(glob_match("[0-9]", "x"));
    EXPECT_TRUE(glob_match("[!0-9]", "x"));
    EXPECT_FALSE(glob_match("[!0-9]", "5"));
    EXPECT_TRUE(glob_match("[]]", "]"));
    EXPECT_TRUE(glob_match("a[-]b", "a-b"));
    // An unclosed set is an ordinary '['.
    EXPECT_TRUE(glob_match("[abc", "[abc"));
    EXPECT_FALSE(glob_match("[abc", "a"));
}

TEST(GlobMatch, WildcardsStepOverWholeUtf8Characters) {
    EXPECT_TRUE(glob_match("成功*", "成功了"));
    EXPECT_TRUE(glob_match("*失败", "登录失败"));
    EXPECT_FALSE(glob_match("成功", "失败"));
    EXPECT_TRUE(glob_match("成?", "成功"));
    EXPECT_FALSE(glob_match("成??", "成功"));
    EXPECT_TRUE(glob_match("[成败]功", "成功"));
    EXPECT_TRUE(glob_match("[!败]功", "成功"));
    EXPECT_TRUE(glob_match("?b", "\xff"
                                 "b")); // an invalid byte is one character
}

TEST(GlobMatch, ManyStarsStayFast) {
    std::string text(5000, 'a');
    EXPECT_FALSE(glob_match("*a*a*a*a*a*a*a*b", text));
}

TEST(GlobMatch, UnclosedSetsAfterAStarStayFast) {
    // Each unclosed '[' was rescanned to the end of the pattern at every backtrack.
    const std::string brackets(3000, '[');
    EXPECT_FALSE(glob_match("*" + brackets, brackets + "x"));
    EXPECT_TRUE(glob_match("*" + brackets, "x" + brackets));
    // A ']' after the first item closes the set, and only then.
    EXPECT_TRUE(glob_match("*[]]", "x]"));
    EXPECT_TRUE(glob_match("*[!]", "x[!]"));
    EXPECT_TRUE(glob_match("*[!]]", "xa"));
    EXPECT_TRUE(glob_match("[[]*[]", "[x[]"));
}

#include "core/regex.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using lumox::core::Regex;
using lumox::core::RegexLimitError;
using lumox::core::RegexSyntaxError;

TEST(Regex, NestedRepeatsGiveUpWithTheirPatternNamed) {
    const auto started = std::chrono::steady_clock::now();
    try {
        Regex("^(a+)+$").search(std::string(40, 'a') + "!");
        FAIL() << "the catastrophic pattern finished";
    } catch (const RegexLimitError &error) {
        EXPECT_NE(std::string(error.what()).find("'^(a+)+$' gave up after"), std::string::npos)
            << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // The same shape over text it can decide quickly still answers.
    EXPECT_TRUE(Regex("^(a+)+$").search("aaaa"));
}

TEST(Regex, DeadlineCoversAllMatchesOfOneFindAll) {
    // Each match looks ahead to the end: cheap once, quadratic over the whole text.
    Regex slow("a(?=a*$)", {.steps = 10'000'000, .deadline = std::chrono::milliseconds(50)});
    EXPECT_THROW(slow.find_all(std::string(200'000, 'a')), RegexLimitError);
}

TEST(Regex, PythonSpellingsAndSyntaxErrors) {
    EXPECT_EQ(lumox::core::pcre_pattern_of(R"(a\Z\u00e9\U0001F600\\Z)"),
              R"(a\z\x{00e9}\x{0001F600}\\Z)");
    EXPECT_TRUE(Regex(R"(ok\Z)").search("ok"));
    EXPECT_FALSE(Regex(R"(ok\Z)").search("ok\n"));   // Python's \Z: the very end only
    EXPECT_TRUE(Regex(R"(^\w+$)").search("名字_1")); // \w is Unicode, as in Python
    EXPECT_TRUE(Regex(R"((?P<word>ab)(?P=word))").search("xabab"));
    try {
        Regex("a(b");
        FAIL() << "an unclosed group compiled";
    } catch (const RegexSyntaxError &error) {
        EXPECT_NE(std::string(error.what()).find("at position 3"), std::string::npos)
            << error.what();
    }
}

TEST(Regex, InvalidUtf8IsSearchedNotRejected) {
    EXPECT_TRUE(Regex("ok").search("\xff\xfe ok"));
    EXPECT_FALSE(Regex("^.$").search("\xff"));
}

// Expected lists are what Python's re.findall gives for the same pattern and text.
TEST(Regex, FindAllAgreesWithPython) {
    using Found = std::vector<std::vector<std::string>>;
    EXPECT_EQ(Regex("a*").find_all("baaac"), (Found{{""}, {"aaa"}, {""}, {""}}));
    EXPECT_EQ(Regex(R"(\b|:+)").find_all("a::bc"), (Found{{""}, {""}, {"::"}, {""}, {""}}));
    EXPECT_EQ(Regex(R"((\w+)=(\d*))").find_all("name=42;名字=7;x="),
              (Found{{"name", "42"}, {"名字", "7"}, {"x", ""}}));
    EXPECT_EQ(Regex("(a)|b").find_all("ab"), (Found{{"a"}, {""}}));
    EXPECT_EQ(Regex(R"(\d+)").find_all("١٢3"), (Found{{"١٢3"}}));
}

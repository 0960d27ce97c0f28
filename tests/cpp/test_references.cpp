#include "core/references.hpp"
#include "core/setting_values.hpp"
#include "core/settings_schema.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using lumox::core::is_dotted_identifier;
using lumox::core::is_identifier;
using lumox::core::sole_reference;
using lumox::core::split_references;
using lumox::core::TextPiece;

namespace {

TextPiece lit(const std::string &text) { return {false, text}; }
TextPiece ref(const std::string &name) { return {true, name}; }

} // namespace

TEST(Identifier, LettersDigitsUnderscoreNotStartingWithADigit) {
    for (const char *name : {"a", "_", "token", "resp_code", "_x1", "A9_b", "user2"}) {
        EXPECT_TRUE(is_identifier(name)) << name;
    }
    for (const char *name : {"", "1a", "9", "a-b", "a b", " a", "a.b", "a}", "{a", "\"a\"", "a:"}) {
        EXPECT_FALSE(is_identifier(name)) << name;
    }
}

TEST(Identifier, LettersBeyondAsciiCountButTheirPunctuationDoesNot) {
    for (const char *name : {"用户", "令牌_1", "café", "Ωmega", "名前", "토큰", "ｔｏｋｅｎ"}) {
        EXPECT_TRUE(is_identifier(name)) << name;
    }
    // Fullwidth and CJK punctuation, spaces, symbols, emoji; a fullwidth digit may not lead.
    for (const char *name :
         {"用户，名", "用户：", "“a”", "a　b", "a×b", "价格￥", "a😀", "１a", "\xc2\xa0"}) {
        EXPECT_FALSE(is_identifier(name)) << name;
    }
    // Bytes that are not UTF-8: a stray continuation byte, a cut sequence, a lone lead byte.
    for (const char *name : {"a\x80", "\xe7\x94", "\xff", "a\xc3"}) {
        EXPECT_FALSE(is_identifier(name)) << name;
    }
}

TEST(Identifier, DottedPathsOfIdentifiers) {
    EXPECT_TRUE(is_dotted_identifier("keywords"));
    EXPECT_TRUE(is_dotted_identifier("my_pkg.keywords.web"));
    EXPECT_TRUE(is_dotted_identifier("测试.关键字"));
    for (const char *name : {"", ".a", "a.", "a..b", "a.1b", "a-b.c", "a/b"}) {
        EXPECT_FALSE(is_dotted_identifier(name)) << name;
    }
}

TEST(SplitReferences, ReferencesBetweenLiteralText) {
    using Pieces = std::vector<TextPiece>;
    EXPECT_EQ(split_references(""), Pieces{});
    EXPECT_EQ(split_references("plain text"), Pieces{lit("plain text")});
    EXPECT_EQ(split_references("{token}"), Pieces{ref("token")});
    EXPECT_EQ(split_references("Bearer {token}"), (Pieces{lit("Bearer "), ref("token")}));
    EXPECT_EQ(split_references("/users/{id}/orders/{order_id}?x=1"),
              (Pieces{lit("/users/"), ref("id"), lit("/orders/"), ref("order_id"), lit("?x=1")}));
    EXPECT_EQ(split_references("{a}{b}"), (Pieces{ref("a"), ref("b")}));
    EXPECT_EQ(split_references("你好{用户}！"), (Pieces{lit("你好"), ref("用户"), lit("！")}));
}

TEST(SplitReferences, JsonAndOtherBracesStayLiteral) {
    using Pieces = std::vector<TextPiece>;
    for (const char *text : {"{}", "{\"a\": 1}", "{\"a\": {\"b\": [1, {}]}}", "{ name }", "{1}",
                             "{a-b}", "{a", "a}", "}{", "{a b}", "{{}}", "{{ token }}", "{", "}"}) {
        EXPECT_EQ(split_references(text), Pieces{lit(text)}) << text;
    }
    // A reference inside JSON text is still one.
    EXPECT_EQ(split_references("{\"id\": {user_id}, \"tags\": []}"),
              (Pieces{lit("{\"id\": "), ref("user_id"), lit(", \"tags\": []}")}));
    EXPECT_EQ(split_references("{\"t\": \"{token}\"}"),
              (Pieces{lit("{\"t\": \""), ref("token"), lit("\"}")}));
}

TEST(SplitReferences, DoubledBracesWriteALiteralReference) {
    using Pieces = std::vector<TextPiece>;
    EXPECT_EQ(split_references("{{token}}"), Pieces{lit("{token}")});
    EXPECT_EQ(split_references("/api/{{id}}/{id}"), (Pieces{lit("/api/{id}/"), ref("id")}));
    // Only a whole doubled pair escapes; otherwise the extra brace is literal.
    EXPECT_EQ(split_references("{{token}"), (Pieces{lit("{"), ref("token")}));
    EXPECT_EQ(split_references("{token}}"), (Pieces{ref("token"), lit("}")}));
    EXPECT_EQ(split_references("{{{token}}}"), Pieces{lit("{{token}}")});
}

TEST(SplitReferences, LongRunsOfBracesAreLiteral) {
    const std::string braces(100000, '{');
    EXPECT_EQ(split_references(braces + "}"), std::vector<TextPiece>{lit(braces + "}")});
}

TEST(SoleReference, OnlyWhenTheWholeTextIsOneReference) {
    EXPECT_EQ(sole_reference("{resp_code}"), "resp_code");
    EXPECT_EQ(sole_reference("{令牌}"), "令牌");
    for (const char *text :
         {"", "{}", "{1}", " {a}", "{a} ", "{a}{b}", "x{a}", "{{a}}", "{a b}", "{\"a\"}"}) {
        EXPECT_FALSE(sole_reference(text).has_value()) << text;
    }
}

TEST(KeywordTypeSetting, LibraryNamesOrAModuleAndClass) {
    const auto *entry = lumox::core::find_setting("lumox", "keyword_type");
    ASSERT_NE(entry, nullptr);
    auto read = [&](const char *text) {
        return std::get<std::string>(lumox::core::read_setting(*entry, text));
    };
    EXPECT_EQ(read(""), "all");
    EXPECT_EQ(read(" API "), "api");
    EXPECT_EQ(read("Web"), "web");
    EXPECT_EQ(read("app"), "app");
    EXPECT_EQ(read(" my_keywords:MyKeyWord "), "my_keywords:MyKeyWord");
    EXPECT_EQ(read("pkg.kw:Outer.Inner"), "pkg.kw:Outer.Inner");
    for (const char *text : {"al", "api,web", "my_keywords", "my_keywords:", ":MyKeyWord", "a:b:c",
                             "my-keywords:K", "kw:1K", "kw: K"}) {
        EXPECT_THROW(lumox::core::read_setting(*entry, text), lumox::core::SettingValueError)
            << text;
    }
    try {
        lumox::core::read_setting(*entry, "everything");
        FAIL() << "no error";
    } catch (const lumox::core::SettingValueError &error) {
        EXPECT_STREQ(error.what(), "expected all, api, web, app or module:ClassName");
    }
}

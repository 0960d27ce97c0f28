#include "core/ini.hpp"

#include <gtest/gtest.h>

using lumox::core::IniError;
using lumox::core::parse_ini;

TEST(IniReader, SectionsKeysAndBothDelimiters) {
    const auto doc = parse_ini("[pytest]\naddopts = -v\n\n[lumox_ui]\nWait_Max: 3\n"
                               "touch_css = color: red; a=b\nempty =\n");
    EXPECT_EQ(doc.get("pytest", "addopts"), "-v");
    // Keys are case-insensitive, values keep everything after the first delimiter.
    EXPECT_EQ(doc.get("lumox_ui", "wait_max"), "3");
    EXPECT_EQ(doc.get("lumox_ui", "WAIT_MAX"), "3");
    EXPECT_EQ(doc.get("lumox_ui", "touch_css"), "color: red; a=b");
    EXPECT_EQ(doc.get("lumox_ui", "empty"), "");
    EXPECT_FALSE(doc.get("lumox_ui", "missing").has_value());
    // Section names are case-sensitive.
    EXPECT_EQ(doc.section("LUMOX_UI"), nullptr);
    EXPECT_EQ(doc.section_names(), (std::vector<std::string>{"pytest", "lumox_ui"}));
}

TEST(IniReader, CommentsBomAndLineEndings) {
    const auto doc = parse_ini("\xEF\xBB\xBF# top\r\n[a]\r\n; note\r\nx = 1 # not a comment\r"
                               "  # indented comment\ny=2");
    EXPECT_EQ(doc.get("a", "x"), "1 # not a comment");
    EXPECT_EQ(doc.get("a", "y"), "2");
}

TEST(IniReader, ContinuationLinesJoinWithNewlines) {
    const auto doc = parse_ini("[pytest]\naddopts =\n    -v\n    # skipped\n\n    --tb=short\n"
                               "markers = slow: long\n  fast\nnext = 1\n\n\n");
    // The empty first line is kept, blank lines inside stay, comments are dropped.
    EXPECT_EQ(doc.get("pytest", "addopts"), "\n-v\n\n--tb=short");
    EXPECT_EQ(doc.get("pytest", "markers"), "slow: long\nfast");
    EXPECT_EQ(doc.get("pytest", "next"), "1");
}

TEST(IniReader, RepeatsMergeAndLastValueWins) {
    const auto doc = parse_ini("[a]\nx = 1\ny = 2\n[b]\nz = 0\n[a]\nX = 3\n");
    ASSERT_NE(doc.section("a"), nullptr);
    const auto &entries = *doc.section("a");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key, "x");
    EXPECT_EQ(entries[0].value, "3");
    EXPECT_EQ(entries[0].line, 7);
    EXPECT_EQ(doc.section_names().size(), 2u);
}

TEST(IniReader, MalformedLinesNameTheLine) {
    auto line_of = [](const char *text) {
        try {
            parse_ini(text);
        } catch (const IniError &error) {
            return error.line();
        }
        return 0;
    };
    EXPECT_EQ(line_of("x = 1\n"), 1);            // before any section
    EXPECT_EQ(line_of("[a]\nx = 1\njunk\n"), 3); // no delimiter
    EXPECT_EQ(line_of("[a]\n\n= 5\n"), 3);       // no key
    EXPECT_EQ(line_of("[a]\n[]\n"), 2);          // empty header is not a header
    try {
        parse_ini("[a]\njunk here\n");
        FAIL() << "no error";
    } catch (const IniError &error) {
        EXPECT_STREQ(error.what(), "line 2: expected 'key = value', 'key: value', a [section] "
                                   "header or a comment, got 'junk …' (the rest of the line is "
                                   "left out, it may hold a secret)");
    }
}

TEST(IniReader, EmptyInputHasNoSections) {
    EXPECT_TRUE(parse_ini("").section_names().empty());
    EXPECT_TRUE(parse_ini("\n  \n# only comments\n").section_names().empty());
}

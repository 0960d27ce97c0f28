#include "core/locator.hpp"

#include <gtest/gtest.h>

using namespace lumox::core;
using Error = ParsedLocator::Error;

namespace {

void expect_locator(std::string_view text, std::string_view value, std::string_view by,
                    std::uint64_t index) {
    SCOPED_TRACE(std::string(text));
    const ParsedLocator parsed = parse_locator(text);
    EXPECT_EQ(parsed.error, Error::none) << parsed.rejected;
    EXPECT_EQ(parsed.value, value);
    EXPECT_EQ(parsed.by, by);
    EXPECT_EQ(parsed.index, index);
}

void expect_rejected(std::string_view text, Error error, std::string_view rejected) {
    SCOPED_TRACE(std::string(text));
    const ParsedLocator parsed = parse_locator(text);
    EXPECT_EQ(parsed.error, error);
    EXPECT_EQ(parsed.rejected, rejected);
}

} // namespace

TEST(LocatorGrammar, ValueStrategyAndIndexWithDefaults) {
    expect_locator("//form//input", "//form//input", "xpath", 0);
    expect_locator("kw ;; ID", "kw", "id", 0);
    expect_locator("//li ;; XPATH ;; 2", "//li", "xpath", 2);
    expect_locator("kw;;ID;;1", "kw", "id", 1);
    expect_locator("  #title ;;CSS_SELECTOR;; 0 ", "#title", "css selector", 0);
    expect_locator("登录 ;; LINK_TEXT", "登录", "link text", 0);
    // Pieces past the third are ignored, and handed back as written for a warning.
    expect_locator("a;;NAME;;3;;whatever;;x", "a", "name", 3);
    std::string ignored = "left over";
    lumox::core::split_locator("a;;NAME;;3;;what\\;;ever", lumox::core::kLocatorSplit,
                               lumox::core::kLocatorEscape, lumox::core::kLocatorEscapeTarget,
                               &ignored);
    EXPECT_EQ(ignored, ";;what\\;;ever");
    lumox::core::split_locator("a;;NAME;;3", lumox::core::kLocatorSplit,
                               lumox::core::kLocatorEscape, lumox::core::kLocatorEscapeTarget,
                               &ignored);
    EXPECT_EQ(ignored, "");
    // An empty expression is still a value (the server decides what it finds).
    expect_locator("", "", "xpath", 0);
    expect_locator("007;;ID;;007", "007", "id", 7);
}

TEST(LocatorGrammar, EscapedSeparatorStaysInTheValue) {
    expect_locator("a\\;;b;;ID", "a;;b", "id", 0);
    expect_locator("x\\;;y\\;;z", "x;;y;;z", "xpath", 0);
    // A single ';' or a lone backslash is ordinary text.
    expect_locator("a;b\\c;;NAME", "a;b\\c", "name", 0);
    // The placeholder text itself written by a tester also comes out as ";;"; that is the
    // price of the placeholder and documented by its unusual spelling.
    expect_locator("{_lumox_escape_}", ";;", "xpath", 0);
}

TEST(LocatorGrammar, WhiteSpaceIsStrippedLikePython) {
    expect_locator("\t//a\n;;\u3000ID\u00a0;; 1\r", "//a", "id", 1);
    EXPECT_EQ(strip_white_space("\u2003 x y \u205f"), "x y");
    EXPECT_EQ(strip_white_space("中文"), "中文");
    EXPECT_EQ(strip_white_space(" \u3000 "), "");
    // Bytes that are not valid UTF-8 are never taken for white space.
    EXPECT_EQ(strip_white_space("\xa0x\xe3"), "\xa0x\xe3");
}

TEST(LocatorGrammar, RejectsUnknownStrategiesAndBadIndexes) {
    // Member names are case-sensitive; strategy strings are not member names.
    expect_rejected("x;;id", Error::strategy, "id");
    expect_rejected("x;;xpath;;1", Error::strategy, "xpath");
    expect_rejected("x;;css selector", Error::strategy, "css selector");
    expect_rejected("x;;;;0", Error::strategy, "");
    expect_rejected("x\\;;ID", Error::none, "");
    expect_rejected("x;;ID\\;;1", Error::strategy, "ID{_lumox_escape_}1");
    expect_rejected("x;;XPATH;;-1", Error::index, "-1");
    expect_rejected("x;;XPATH;;first", Error::index, "first");
    expect_rejected("x;;XPATH;;", Error::index, "");
    expect_rejected("x;;XPATH;;+1", Error::index, "+1");
    expect_rejected("x;;XPATH;;1.0", Error::index, "1.0");
    expect_rejected("x;;XPATH;;1 2", Error::index, "1 2");
    expect_rejected("x;;XPATH;;\u0662", Error::index, "\u0662"); // Arabic-Indic two
}

TEST(LocatorIndex, DigitsWithinSixtyFourBits) {
    EXPECT_EQ(parse_locator_index("0"), 0u);
    EXPECT_EQ(parse_locator_index("18446744073709551615"), UINT64_MAX);
    EXPECT_FALSE(parse_locator_index("18446744073709551616"));
    EXPECT_FALSE(parse_locator_index("99999999999999999999"));
}

TEST(LocatorStrategies, MemberNamesMapToProtocolStrings) {
    EXPECT_EQ(strategy_for("XPATH"), "xpath");
    EXPECT_EQ(strategy_for("ACCESSIBILITY_ID"), "accessibility id");
    EXPECT_EQ(strategy_for("ANDROID_UIAUTOMATOR"), "-android uiautomator");
    EXPECT_EQ(strategy_for("IOS_PREDICATE"), "-ios predicate string");
    EXPECT_EQ(strategy_for("IOS_CLASS_CHAIN"), "-ios class chain");
    EXPECT_FALSE(strategy_for("Id"));
    EXPECT_FALSE(strategy_for(""));
    // Member names are unique, so a lookup never depends on table order.
    const auto all = locator_strategies();
    for (size_t i = 0; i < all.size(); ++i) {
        for (size_t j = i + 1; j < all.size(); ++j) {
            EXPECT_NE(all[i].member, all[j].member);
        }
    }
}

TEST(LocatorText, PlainPartsInsideQuotes) {
    EXPECT_EQ(locator_text("kw", "id", 1), "Locator(value='kw', by='id', index=1)");
    EXPECT_EQ(locator_text("//a[@x='1']", "xpath", 0),
              "Locator(value='//a[@x='1']', by='xpath', index=0)");
}

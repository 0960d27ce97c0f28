// Locator expressions: one string "value ;; by ;; index" naming an element of a page or
// app screen. `by` is the member name of a locating strategy (ID, XPATH, ...) and
// `index` picks one of several matches; both may be left out. An escaped separator
// (backslash + ";;") stays inside the value as a literal ";;".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumox::core {

// A locating strategy: the member name testers write and the strategy string the
// WebDriver (or Appium) server understands.
struct LocatorStrategy {
    std::string_view member;
    std::string_view strategy;
};

inline constexpr std::string_view kLocatorSplit = ";;";
inline constexpr std::string_view kLocatorEscape = "\\";
// Stands in for an escaped separator while the expression is split.
inline constexpr std::string_view kLocatorEscapeTarget = "{_lumox_escape_}";
inline constexpr std::string_view kDefaultStrategy = "xpath";

// Every known strategy: the W3C WebDriver ones and those of Appium.
std::span<const LocatorStrategy> locator_strategies();

// The strategy string of the member `member` (exact, case-sensitive name), if known.
std::optional<std::string_view> strategy_for(std::string_view member);

// A position among matches: decimal digits 0-9 only, not empty, within 64 bits.
std::optional<std::uint64_t> parse_locator_index(std::string_view text);

// `text` without leading and trailing white space, by the same rule as Python's
// str.strip() (ASCII blanks plus Unicode spaces such as U+00A0 and U+3000).
std::string_view strip_white_space(std::string_view text);

// The pieces of an expression in order (value, by, index), each stripped, at most three;
// an escaped separator is kept as `escape_target` (turn it back with unescape_locator_value).
// An empty `split` leaves the whole text as one piece. What follows the index is ignored;
// `ignored`, when given, receives it as written, from its separator on ("" when none).
std::vector<std::string> split_locator(std::string_view text,
                                       std::string_view split = kLocatorSplit,
                                       std::string_view escape = kLocatorEscape,
                                       std::string_view escape_target = kLocatorEscapeTarget,
                                       std::string *ignored = nullptr);

// A value piece with each `escape_target` turned back into the literal `split`.
std::string unescape_locator_value(std::string_view piece, std::string_view split = kLocatorSplit,
                                   std::string_view escape_target = kLocatorEscapeTarget);

// A whole expression checked: the value, the strategy string and the index, or which
// part was rejected and the text that was given for it.
struct ParsedLocator {
    enum class Error { none, strategy, index };
    std::string value;
    std::string by{kDefaultStrategy};
    std::uint64_t index = 0;
    Error error = Error::none;
    std::string rejected; // the stripped piece that was rejected
};
ParsedLocator parse_locator(std::string_view text);

// Locator(value='<value>', by='<by>', index=<index>), parts in plain text.
std::string locator_text(std::string_view value, std::string_view by, std::uint64_t index);

} // namespace lumox::core

// The plain-text side of response checks: the modes of a text assertion, the matching
// they do on whole texts, and the status-code alternatives testers write as "200 | 204".
// Regular expressions are matched by regex.hpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumox::core {

enum class TextMode { glob, same, re, contains };

// "glob", "same", "re" or "contains"; nothing for any other word.
std::optional<TextMode> parse_text_mode(std::string_view word);
std::string_view text_mode_name(TextMode mode);
// The list of mode names for messages: "glob, same, re, contains".
std::string_view text_mode_names();

// Whether `actual` satisfies `expected` under `mode` (glob: whole-text wildcard match;
// same: equality; contains: substring). TextMode::re is not handled here and gives false.
bool plain_text_matches(TextMode mode, std::string_view expected, std::string_view actual);

// The expectation half of a failure reason, e.g. "expected to match 'a*'", given the
// expected value already quoted for display.
std::string describe_expectation(TextMode mode, std::string_view quoted_expected);

// Why a glob pattern failed although it may look right: a hint when `actual` is the very
// text of a pattern holding [, * or ?, or when the pattern holds a [ (which starts a
// character set); empty otherwise, wildcards being mostly meant.
std::string glob_hint(std::string_view expected, std::string_view actual);

// Status-code alternatives: "200", "200 | 204", "2??". Each alternative is a wildcard
// pattern of digits matched against the whole code.
struct StatusAlternatives {
    std::vector<std::string> patterns;
    // Empty when the text was well formed; otherwise what is wrong with it.
    std::string error;
};

StatusAlternatives parse_status_alternatives(std::string_view text);
bool status_matches(const std::vector<std::string> &patterns, long code);
// The patterns joined back as "200 | 204", for messages.
std::string join_alternatives(const std::vector<std::string> &patterns);

} // namespace lumox::core

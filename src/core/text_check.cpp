#include "core/text_check.hpp"

#include "core/glob.hpp"

#include <string>

namespace lumox::core {
namespace {

std::string_view trim(std::string_view text) {
    const char *space = " \t\r\n";
    std::size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

// Digits and the wildcard characters a status pattern may use; anything else (a comma,
// a letter) is a typo that would otherwise silently never match.
bool is_status_pattern_char(char c) {
    return (c >= '0' && c <= '9') || c == '*' || c == '?' || c == '[' || c == ']' || c == '!' ||
           c == '^' || c == '-';
}

} // namespace

std::optional<TextMode> parse_text_mode(std::string_view word) {
    if (word == "glob") {
        return TextMode::glob;
    }
    if (word == "same") {
        return TextMode::same;
    }
    if (word == "re") {
        return TextMode::re;
    }
    if (word == "contains") {
        return TextMode::contains;
    }
    return std::nullopt;
}

std::string_view text_mode_name(TextMode mode) {
    switch (mode) {
    case TextMode::glob:
        return "glob";
    case TextMode::same:
        return "same";
    case TextMode::re:
        return "re";
    case TextMode::contains:
        return "contains";
    }
    return "glob";
}

std::string_view text_mode_names() { return "glob, same, re, contains"; }

bool plain_text_matches(TextMode mode, std::string_view expected, std::string_view actual) {
    switch (mode) {
    case TextMode::glob:
        return glob_match(expected, actual);
    case TextMode::same:
        return expected == actual;
    case TextMode::contains:
        return actual.find(expected) != std::string_view::npos;
    case TextMode::re:
        return false;
    }
    return false;
}

std::string describe_expectation(TextMode mode, std::string_view quoted_expected) {
    std::string text;
    switch (mode) {
    case TextMode::glob:
        text = "expected to match ";
        break;
    case TextMode::same:
        text = "expected exactly ";
        break;
    case TextMode::re:
        text = "expected to find the pattern ";
        break;
    case TextMode::contains:
        text = "expected to contain ";
        break;
    }
    text += quoted_expected;
    return text;
}

StatusAlternatives parse_status_alternatives(std::string_view text) {
    StatusAlternatives result;
    std::size_t start = 0;
    while (true) {
        std::size_t bar = text.find('|', start);
        std::string_view piece =
            trim(text.substr(start, bar == std::string_view::npos ? text.npos : bar - start));
        if (piece.empty()) {
            result.patterns.clear();
            result.error = "empty alternative in '" + std::string(text) + "'";
            return result;
        }
        for (char c : piece) {
            if (!is_status_pattern_char(c)) {
                result.patterns.clear();
                result.error = "'" + std::string(piece) + "' is not a status code pattern";
                return result;
            }
        }
        result.patterns.emplace_back(piece);
        if (bar == std::string_view::npos) {
            return result;
        }
        start = bar + 1;
    }
}

bool status_matches(const std::vector<std::string> &patterns, long code) {
    std::string text = std::to_string(code);
    for (const std::string &pattern : patterns) {
        if (glob_match(pattern, text)) {
            return true;
        }
    }
    return false;
}

std::string join_alternatives(const std::vector<std::string> &patterns) {
    std::string text;
    for (const std::string &pattern : patterns) {
        if (!text.empty()) {
            text += " | ";
        }
        text += pattern;
    }
    return text;
}

std::string glob_hint(std::string_view expected, std::string_view actual) {
    // A wildcard written on purpose needs no hint; a value equal to the pattern, or a [
    // (rarely meant as a character set), does.
    const bool same_text = expected == actual;
    const bool has_wildcards = expected.find_first_of("[*?") != std::string_view::npos;
    const bool has_set = expected.find('[') != std::string_view::npos;
    if (!(same_text && has_wildcards) && !has_set) {
        return {};
    }
    std::string hint = "in a glob pattern [ starts a set of characters and * and ? are wildcards";
    if (same_text) {
        hint += ", so the text itself does not match it";
    }
    return hint + ": use mode: same to compare exactly";
}

} // namespace lumox::core

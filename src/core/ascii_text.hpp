// Small text helpers for configuration texts, which are UTF-8 but whose syntax
// (blanks, key names, keywords) is ASCII: non-ASCII bytes pass through untouched.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace lumox::core {

inline constexpr std::string_view kAsciiBlanks = " \t\n\v\f\r";

// `text` without leading and trailing ASCII blanks.
inline std::string_view strip_blanks(std::string_view text) {
    const auto first = text.find_first_not_of(kAsciiBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kAsciiBlanks) - first + 1);
}

inline char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

inline std::string lower_ascii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return lower_ascii(c); });
    return out;
}

inline std::string upper_ascii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; });
    return out;
}

inline bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lower_ascii(x) == lower_ascii(y);
           });
}

} // namespace lumox::core

#include "core/glob.hpp"

#include "core/utf8.hpp"

#include <cstddef>

namespace lumox::core {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Matches the set starting at pattern[p] (just after '[') against the character `c`.
// Returns the index just past the closing ']', or npos when the set is not closed.
std::size_t match_set(std::string_view pattern, std::size_t p, char32_t c, bool &matched) {
    bool negate = false;
    if (p < pattern.size() && (pattern[p] == '!' || pattern[p] == '^')) {
        negate = true;
        ++p;
    }
    bool found = false;
    bool first = true;
    while (p < pattern.size() && (first || pattern[p] != ']')) {
        first = false;
        char32_t lo = 0;
        p += decode_utf8(pattern, p, lo);
        if (p + 1 < pattern.size() && pattern[p] == '-' && pattern[p + 1] != ']') {
            char32_t hi = 0;
            p += 1 + decode_utf8(pattern, p + 1, hi);
            found = found || (lo <= c && c <= hi);
        } else {
            found = found || lo == c;
        }
    }
    if (p >= pattern.size()) {
        return npos;
    }
    matched = found != negate;
    return p + 1;
}

} // namespace

bool glob_match(std::string_view pattern, std::string_view text) {
    // Iterative matcher with one backtrack point for the latest '*': never recursive, so
    // hostile patterns cannot blow the stack. `?` and sets consume whole characters.
    std::size_t p = 0, t = 0;
    std::size_t star_p = npos, star_t = 0;
    // A set is closed by any ']' after its first item. Knowing the last one spares
    // rescanning unclosed sets, which made patterns such as "*[[[[..." cubic.
    const std::size_t last_close = pattern.rfind(']');
    while (t < text.size()) {
        char32_t tc = 0;
        std::size_t t_len = decode_utf8(text, t, tc);
        if (p < pattern.size()) {
            char pc = pattern[p];
            if (pc == '*') {
                star_p = ++p;
                star_t = t;
                continue;
            }
            if (pc == '?') {
                ++p;
                t += t_len;
                continue;
            }
            if (pc == '[') {
                bool matched = false;
                const std::size_t first_item =
                    p + 1 < pattern.size() && (pattern[p + 1] == '!' || pattern[p + 1] == '^')
                        ? p + 2
                        : p + 1;
                const bool closed = last_close != npos && last_close > first_item;
                std::size_t next = closed ? match_set(pattern, p + 1, tc, matched) : npos;
                if (next == npos) {
                    if (text[t] == '[') { // unclosed set: a literal '['
                        ++p;
                        ++t;
                        continue;
                    }
                } else if (matched) {
                    p = next;
                    t += t_len;
                    continue;
                }
            } else if (pc == text[t]) {
                ++p;
                ++t;
                continue;
            }
        }
        if (star_p == npos) {
            return false;
        }
        p = star_p;
        char32_t skipped = 0;
        star_t += decode_utf8(text, star_t, skipped);
        t = star_t;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace lumox::core

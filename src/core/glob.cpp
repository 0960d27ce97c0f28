#include "core/glob.hpp"

#include <cstddef>

namespace lumox::core {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Decodes the UTF-8 character starting at text[i] into `cp` and returns its length in
// bytes. Bytes that do not form a valid sequence count as one character each, so any
// text can be matched.
std::size_t decode(std::string_view text, std::size_t i, char32_t &cp) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                      : (lead >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > text.size()) {
        cp = lead;
        return 1;
    }
    cp = len == 1 ? lead : lead & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            cp = lead;
            return 1;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    return len;
}

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
        p += decode(pattern, p, lo);
        if (p + 1 < pattern.size() && pattern[p] == '-' && pattern[p + 1] != ']') {
            char32_t hi = 0;
            p += 1 + decode(pattern, p + 1, hi);
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
    while (t < text.size()) {
        char32_t tc = 0;
        std::size_t t_len = decode(text, t, tc);
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
                std::size_t next = match_set(pattern, p + 1, tc, matched);
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
        star_t += decode(text, star_t, skipped);
        t = star_t;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace lumox::core

#include "core/glob.hpp"

#include <cstddef>

namespace lumox::core {
namespace {

// Matches the set starting at pattern[p] (just after '[') against `c`. Returns the index
// just past the closing ']', or npos when the set is not closed.
std::size_t match_set(std::string_view pattern, std::size_t p, char c, bool &matched) {
    bool negate = false;
    if (p < pattern.size() && (pattern[p] == '!' || pattern[p] == '^')) {
        negate = true;
        ++p;
    }
    bool found = false;
    bool first = true;
    while (p < pattern.size() && (first || pattern[p] != ']')) {
        first = false;
        char lo = pattern[p];
        if (p + 2 < pattern.size() && pattern[p + 1] == '-' && pattern[p + 2] != ']') {
            char hi = pattern[p + 2];
            found = found || (lo <= c && c <= hi);
            p += 3;
        } else {
            found = found || lo == c;
            ++p;
        }
    }
    if (p >= pattern.size()) {
        return std::string_view::npos;
    }
    matched = found != negate;
    return p + 1;
}

} // namespace

bool glob_match(std::string_view pattern, std::string_view text) {
    // Iterative matcher with one backtrack point for the latest '*': linear in practice
    // and never recursive, so hostile patterns cannot blow the stack.
    std::size_t p = 0, t = 0;
    std::size_t star_p = std::string_view::npos, star_t = 0;
    while (t < text.size()) {
        if (p < pattern.size()) {
            char pc = pattern[p];
            if (pc == '*') {
                star_p = ++p;
                star_t = t;
                continue;
            }
            if (pc == '?') {
                ++p;
                ++t;
                continue;
            }
            if (pc == '[') {
                bool matched = false;
                std::size_t next = match_set(pattern, p + 1, text[t], matched);
                if (next == std::string_view::npos) {
                    if (text[t] == '[') { // unclosed set: a literal '['
                        ++p;
                        ++t;
                        continue;
                    }
                } else if (matched) {
                    p = next;
                    ++t;
                    continue;
                }
            } else if (pc == text[t]) {
                ++p;
                ++t;
                continue;
            }
        }
        if (star_p == std::string_view::npos) {
            return false;
        }
        p = star_p;
        t = ++star_t;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace lumox::core

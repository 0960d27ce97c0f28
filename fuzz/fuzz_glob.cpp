// Wildcard patterns of response checks. Input: the pattern, a newline, the text.
#include "core/glob.hpp"
#include "support.hpp"

#include <string>

using lumox::core::glob_match;
using lumox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const auto [pattern, text] = lumox::fuzz::pattern_and_text(data, size);

    const bool matched = glob_match(pattern, text);

    check(glob_match("*", text), "'*' does not match everything");
    // A pattern without wildcards matches only itself.
    if (pattern.find_first_of("*?[") == std::string_view::npos) {
        check(matched == (pattern == text), "a plain pattern is not an equality test");
    }
    if (text.find_first_of("*?[") == std::string_view::npos) {
        check(glob_match(text, text), "a plain text does not match itself");
    }
    // A star added on either side never loses a match.
    if (matched) {
        check(glob_match(std::string(pattern) + "*", text) &&
                  glob_match("*" + std::string(pattern), text),
              "a star added to a matching pattern lost the match");
    }
    return 0;
}

// Regular expressions of checks and extracts. Input: the pattern, a newline, the text.
#include "core/regex.hpp"
#include "support.hpp"

#include <string>

using lumox::core::Regex;
using lumox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const auto [pattern, text] = lumox::fuzz::pattern_and_text(data, size);
    try {
        const Regex regex(pattern, {.steps = 100'000, .deadline = std::chrono::milliseconds(200)});
        const bool found = regex.search(text);
        const auto matches = regex.find_all(text);
        check(found == !matches.empty(), "search and find_all disagree");
        for (const auto &groups : matches) {
            check(groups.size() == (regex.group_count() == 0 ? 1 : regex.group_count()),
                  "an entry of find_all has the wrong number of texts");
            for (const auto &group : groups) {
                check(text.find(group) != std::string_view::npos,
                      "a match is not part of the text");
                // Matches of valid UTF-8 text are whole characters.
                check(lumox::fuzz::is_strict_utf8(group) || !lumox::fuzz::is_strict_utf8(text),
                      "a match of valid UTF-8 text splits a character");
            }
        }
    } catch (const lumox::core::RegexSyntaxError &) {
    } catch (const lumox::core::RegexLimitError &) {
    }
    return 0;
}

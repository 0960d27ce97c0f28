// Regular expressions of response checks, extracts and keyword assertions, written in
// Python's syntax and matched by PCRE2 with Unicode classes (\w, \d, \b as Python's `re`
// has them). Every match runs under a step limit and a whole-call deadline, so a pattern
// with nested repeats such as ^(a+)+$ fails with a message instead of holding the run.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lumox::core {

// The pattern does not compile; what() is PCRE2's reason with the position in the pattern.
struct RegexSyntaxError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The match gave up at its step limit or deadline; what() names the pattern.
struct RegexLimitError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct RegexLimits {
    // Backtracking steps one match attempt may take (PCRE2's match limit).
    std::uint32_t steps = 10'000'000;
    // Time all the matches of one search or find_all may take together.
    std::chrono::milliseconds deadline{5000};
};

class Regex {
public:
    // Throws RegexSyntaxError. Python-only escapes (\Z, \UXXXXXXXX) are translated first.
    explicit Regex(std::string_view pattern, RegexLimits limits = {});
    ~Regex();
    Regex(Regex &&) noexcept;
    Regex &operator=(Regex &&) noexcept;

    const std::string &pattern() const { return pattern_; }
    // Capturing groups in the pattern, as Python's `groups`.
    std::size_t group_count() const;

    // Whether the pattern matches anywhere in `subject` (Python's re.search). Text that is
    // not valid UTF-8 is searched too; an invalid sequence matches nothing.
    bool search(std::string_view subject) const;

    // Python's re.findall: every non-overlapping match from left to right. Each entry holds
    // the whole match when the pattern has no group, otherwise one text per group (empty
    // for a group that took no part).
    std::vector<std::vector<std::string>> find_all(std::string_view subject) const;

private:
    struct Compiled;
    std::string pattern_;
    RegexLimits limits_;
    std::unique_ptr<Compiled> compiled_;
};

// The pattern rewritten where Python and PCRE2 spell the same thing differently.
std::string pcre_pattern_of(std::string_view python_pattern);

} // namespace lumox::core

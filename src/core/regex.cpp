#include "regex.hpp"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cctype>

namespace lumox::core {
namespace {

// UTF-8 with Unicode classes; invalid sequences in a subject simply match nothing.
constexpr std::uint32_t kCompileOptions =
    PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | PCRE2_NEVER_BACKSLASH_C;

bool is_hex_run(std::string_view text, std::size_t from, std::size_t count) {
    if (from + count > text.size()) {
        return false;
    }
    for (std::size_t i = from; i < from + count; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

std::string shown_pattern(std::string_view pattern) {
    constexpr std::size_t kShown = 80;
    std::string text = "'";
    text += pattern.size() > kShown ? std::string(pattern.substr(0, kShown)) + "..." : pattern;
    return text + "'";
}

// The start of the character after `offset` (a continuation byte is never a start).
std::size_t next_char_start(std::string_view subject, std::size_t offset) {
    ++offset;
    while (offset < subject.size() &&
           (static_cast<unsigned char>(subject[offset]) & 0xC0) == 0x80) {
        ++offset;
    }
    return offset;
}

} // namespace

std::string pcre_pattern_of(std::string_view python_pattern) {
    std::string out;
    out.reserve(python_pattern.size());
    for (std::size_t i = 0; i < python_pattern.size(); ++i) {
        const char c = python_pattern[i];
        if (c != '\\' || i + 1 == python_pattern.size()) {
            out += c;
            continue;
        }
        const char escaped = python_pattern[i + 1];
        if (escaped == 'Z') {
            out += "\\z"; // Python's \Z is the very end, PCRE2's \z
            ++i;
        } else if (escaped == 'u' && is_hex_run(python_pattern, i + 2, 4)) {
            out += "\\x{" + std::string(python_pattern.substr(i + 2, 4)) + "}";
            i += 5;
        } else if (escaped == 'U' && is_hex_run(python_pattern, i + 2, 8)) {
            out += "\\x{" + std::string(python_pattern.substr(i + 2, 8)) + "}";
            i += 9;
        } else {
            out += c;
            out += escaped;
            ++i;
        }
    }
    return out;
}

struct Regex::Compiled {
    pcre2_code *code = nullptr;
    pcre2_match_context *context = nullptr;
    pcre2_jit_stack *jit_stack = nullptr;

    ~Compiled() {
        pcre2_jit_stack_free(jit_stack);
        pcre2_match_context_free(context);
        pcre2_code_free(code);
    }
};

Regex::Regex(std::string_view pattern, RegexLimits limits)
    : pattern_(pattern), limits_(limits), compiled_(std::make_unique<Compiled>()) {
    const std::string translated = pcre_pattern_of(pattern);
    int error = 0;
    PCRE2_SIZE error_offset = 0;
    compiled_->code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                      kCompileOptions, &error, &error_offset, nullptr);
    if (compiled_->code == nullptr) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(error, message, sizeof message);
        throw RegexSyntaxError(reinterpret_cast<const char *>(message) +
                               std::string(" at position ") + std::to_string(error_offset));
    }
    compiled_->context = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(compiled_->context, limits_.steps);
    // The JIT is several times faster; where the machine refuses it the interpreter runs.
    if (pcre2_jit_compile(compiled_->code, PCRE2_JIT_COMPLETE) == 0) {
        compiled_->jit_stack = pcre2_jit_stack_create(32 * 1024, 4 * 1024 * 1024, nullptr);
        pcre2_jit_stack_assign(compiled_->context, nullptr, compiled_->jit_stack);
    }
}

Regex::~Regex() = default;
Regex::Regex(Regex &&) noexcept = default;
Regex &Regex::operator=(Regex &&) noexcept = default;

std::size_t Regex::group_count() const {
    std::uint32_t count = 0;
    pcre2_pattern_info(compiled_->code, PCRE2_INFO_CAPTURECOUNT, &count);
    return count;
}

namespace {

struct MatchData {
    pcre2_match_data *data;
    explicit MatchData(const pcre2_code *code)
        : data(pcre2_match_data_create_from_pattern(code, nullptr)) {
        if (data == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~MatchData() { pcre2_match_data_free(data); }
    MatchData(const MatchData &) = delete;
    MatchData &operator=(const MatchData &) = delete;
};

// Runs one attempt; true on a match, false on none, RegexLimitError when PCRE2 gave up.
bool regex_attempt(const std::string &pattern, const RegexLimits &limits, pcre2_code *code,
                   pcre2_match_context *context, std::string_view subject, std::size_t offset,
                   std::uint32_t options, pcre2_match_data *data) {
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                               offset, options, data, context);
    if (rc >= 0) {
        return true;
    }
    if (rc == PCRE2_ERROR_NOMATCH) {
        return false;
    }
    std::string why;
    if (rc == PCRE2_ERROR_MATCHLIMIT) {
        why = "gave up after " + std::to_string(limits.steps) + " backtracking steps";
    } else {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(rc, message, sizeof message);
        why = "gave up: " + std::string(reinterpret_cast<const char *>(message));
    }
    throw RegexLimitError("regular expression " + shown_pattern(pattern) + " " + why +
                          " on a text of " + std::to_string(subject.size()) +
                          " bytes; nested repeats such as (a+)+ or (a*)*b backtrack without end, "
                          "write the repeat once (a+)");
}

} // namespace

bool Regex::search(std::string_view subject) const {
    MatchData match(compiled_->code);
    return regex_attempt(pattern_, limits_, compiled_->code, compiled_->context, subject, 0, 0,
                         match.data);
}

std::vector<std::vector<std::string>> Regex::find_all(std::string_view subject) const {
    const auto deadline = std::chrono::steady_clock::now() + limits_.deadline;
    const std::size_t groups = group_count();
    MatchData match(compiled_->code);
    std::vector<std::vector<std::string>> found;
    std::size_t offset = 0;
    std::uint32_t options = 0;
    while (offset <= subject.size()) {
        if (!regex_attempt(pattern_, limits_, compiled_->code, compiled_->context, subject, offset,
                           options, match.data)) {
            if (options == 0) {
                break;
            }
            // No non-empty match where the empty one was: move on by one character.
            offset = next_char_start(subject, offset);
            options = 0;
            continue;
        }
        const PCRE2_SIZE *vector = pcre2_get_ovector_pointer(match.data);
        std::vector<std::string> entry;
        for (std::size_t group = groups == 0 ? 0 : 1; group <= groups; ++group) {
            const PCRE2_SIZE start = vector[2 * group];
            const PCRE2_SIZE end = vector[2 * group + 1];
            entry.emplace_back(start == PCRE2_UNSET || end < start
                                   ? std::string()
                                   : std::string(subject.substr(start, end - start)));
        }
        found.push_back(std::move(entry));
        const std::size_t end = vector[1];
        // After an empty match, look for a non-empty one at the same place first, as
        // Python does, so "a*" finds "aa" and then the empty text at the end.
        options = end == vector[0] ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0;
        offset = end;
        if (std::chrono::steady_clock::now() > deadline) {
            throw RegexLimitError("regular expression " + shown_pattern(pattern_) +
                                  " gave up after " + std::to_string(limits_.deadline.count()) +
                                  " ms with " + std::to_string(found.size()) +
                                  " matches in a text of " + std::to_string(subject.size()) +
                                  " bytes");
        }
    }
    return found;
}

} // namespace lumox::core

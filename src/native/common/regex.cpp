#include "regex.hpp"

#include "core/regex.hpp"
#include "errors.hpp"

#include <unordered_map>

namespace lumox::py_helpers {
namespace {

constexpr std::size_t kCachedPatterns = 256;

// Matching keeps the GIL: a compiled pattern (and its JIT stack) is then never used by two
// threads at once, nor dropped from the cache while in use.
const core::Regex &compiled(const std::string &pattern, const std::string &context) {
    static std::unordered_map<std::string, core::Regex> cache;
    if (auto found = cache.find(pattern); found != cache.end()) {
        return found->second;
    }
    if (cache.size() >= kCachedPatterns) {
        cache.clear();
    }
    try {
        return cache.emplace(pattern, core::Regex(pattern)).first->second;
    } catch (const core::RegexSyntaxError &error) {
        raise_error(py::module_::import("re").attr("error"),
                    context + ": " + py::repr(py::str(pattern)).cast<std::string>() +
                        " is not a valid regular expression: " + error.what());
    }
}

[[noreturn]] void raise_limit(const std::string &context, const core::RegexLimitError &error) {
    raise_error(PyExc_RuntimeError, context + ": " + error.what());
}

} // namespace

void check_regex(const std::string &pattern, const std::string &context) {
    compiled(pattern, context);
}

bool regex_search(const std::string &pattern, const std::string &subject,
                  const std::string &context) {
    const core::Regex &regex = compiled(pattern, context);
    try {
        return regex.search(subject);
    } catch (const core::RegexLimitError &error) {
        raise_limit(context, error);
    }
}

py::list regex_findall(const std::string &pattern, const std::string &subject,
                       const std::string &context) {
    const core::Regex &regex = compiled(pattern, context);
    std::vector<std::vector<std::string>> found;
    try {
        found = regex.find_all(subject);
    } catch (const core::RegexLimitError &error) {
        raise_limit(context, error);
    }
    py::list result;
    for (const auto &groups : found) {
        if (groups.size() == 1) {
            result.append(py::str(groups[0]));
            continue;
        }
        py::tuple entry(groups.size());
        for (std::size_t i = 0; i < groups.size(); ++i) {
            entry[i] = py::str(groups[i]);
        }
        result.append(entry);
    }
    return result;
}

} // namespace lumox::py_helpers

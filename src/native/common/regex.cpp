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

// The text's UTF-8 bytes; lone surrogates are kept as their three bytes (which no pattern
// matches) rather than failing the check.
std::string utf8_of(py::handle text) {
    py::str as_text = py::isinstance<py::str>(text) ? py::reinterpret_borrow<py::str>(text)
                                                     : py::str(text);
    PyObject *bytes = PyUnicode_AsEncodedString(as_text.ptr(), "utf-8", "surrogatepass");
    if (bytes == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::bytes>(bytes).cast<std::string>();
}

py::str text_of(const std::string &utf8) {
    PyObject *text = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()),
                                          "surrogatepass");
    if (text == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(text);
}

[[noreturn]] void raise_limit(const std::string &context, const core::RegexLimitError &error) {
    raise_error(PyExc_RuntimeError, context + ": " + error.what());
}

} // namespace

void check_regex(const std::string &pattern, const std::string &context) {
    compiled(pattern, context);
}

bool regex_search(const std::string &pattern, py::handle text, const std::string &context) {
    const core::Regex &regex = compiled(pattern, context);
    const std::string subject = utf8_of(text);
    try {
        return regex.search(subject);
    } catch (const core::RegexLimitError &error) {
        raise_limit(context, error);
    }
}

py::list regex_findall(const std::string &pattern, py::handle text, const std::string &context) {
    const core::Regex &regex = compiled(pattern, context);
    const std::string subject = utf8_of(text);
    std::vector<std::vector<std::string>> found;
    try {
        found = regex.find_all(subject);
    } catch (const core::RegexLimitError &error) {
        raise_limit(context, error);
    }
    py::list result;
    for (const auto &groups : found) {
        if (groups.size() == 1) {
            result.append(text_of(groups[0]));
            continue;
        }
        py::tuple entry(groups.size());
        for (std::size_t i = 0; i < groups.size(); ++i) {
            entry[i] = text_of(groups[i]);
        }
        result.append(entry);
    }
    return result;
}

} // namespace lumox::py_helpers

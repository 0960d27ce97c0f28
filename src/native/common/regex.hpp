// Python's re.search and re.findall for the patterns of checks, extracts and keyword
// assertions, matched by core::Regex under its limits. Compiled patterns are kept, since a
// suite repeats the same few patterns over many responses.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::py_helpers {

namespace py = pybind11;

// Raises re.error "<context>: <pattern> is not a valid regular expression: <reason>" (the
// type callers of Python's re catch) when `pattern` does not compile.
void check_regex(const std::string &pattern, const std::string &context);

// Whether `pattern` matches anywhere in `subject` (UTF-8, as to_str gives it: matches of
// such a text are whole characters). A pattern that gives up raises RuntimeError naming it.
bool regex_search(const std::string &pattern, const std::string &subject,
                  const std::string &context);

// re.findall: a list of texts, or of tuples of texts for patterns of several groups.
py::list regex_findall(const std::string &pattern, const std::string &subject,
                       const std::string &context);

} // namespace lumox::py_helpers

// What a tester reads when a case fails: a few lines that say which case, where and why,
// and the error in one line -- not the frames of the machinery that ran it. Used by the
// case runners (YAML files, workbooks) for their items' repr_failure.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace lumox::py_helpers {

namespace py = pybind11;

// "ErrorType: message", the error as a tester wants to read it: builtins and pytest's
// outcomes bare, library errors with their module (httpx.ConnectError).
std::string error_line(py::handle error);

// error_line for one-line summaries: an error without a message (a bare AssertionError)
// is followed by its first note, which says what failed.
std::string summary_line(py::handle error);

// The notes added to an error (its __notes__), one text each.
std::vector<std::string> error_notes(py::handle error);

// The lines of a report; error lines are shown red and bold.
class ReportLines {
public:
    // Adds `text`, one report line per text line, each prefixed with `indent`.
    void add(const std::string &text, const std::string &indent = "", bool error = false);
    py::list lines() const { return lines_; }

private:
    py::list lines_;
};

// Creates the report class `name` in `module`: a report representation with the
// `toterminal`/`reprcrash` interface pytest's terminal, summary and junitxml read, and
// `lines` (text, is_error) pairs.
py::object define_case_report_class(py::module_ &module, const char *name, const char *doc);

// A report of class `report_class` for the failure `excinfo` of `item`. With --fulltrace
// pytest's own traceback follows the lines. The summary (reprcrash) names the item's file,
// `lineno` (1-based or None) and `crash_message`.
py::object make_case_report(py::handle report_class, py::handle item, py::handle excinfo,
                            const ReportLines &lines, py::object lineno,
                            const std::string &crash_message);

} // namespace lumox::py_helpers

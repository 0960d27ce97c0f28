// What a tester reads when a workbook case fails: the workbook, the sheet, the row, the
// keyword and its arguments as they were called, and the error in one line.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::workbooks {

namespace py = pybind11;

// Where and how a case failed; kept on the item between runtest and repr_failure.
struct CaseFailure {
    py::object error; // the exception
    py::object step;  // the step dict, or None when the case could not start
    py::object args;  // the arguments as called, or as written when substituted is false
    bool substituted;
    py::object page; // report lines about the screen when the step failed, or None
};

// Creates the class WorkbookCaseFailure in `module`.
void define_failure_report(py::module_ &module);

// The report of `failure` of the workbook case `item`. With --fulltrace pytest's own
// traceback of `excinfo` follows.
py::object failure_report(py::handle item, py::handle excinfo, const CaseFailure &failure);

} // namespace lumox::workbooks

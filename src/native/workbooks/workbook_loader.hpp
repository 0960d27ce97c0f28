// Reading the cases of a workbook: every sheet but `_key_word` is a case named after the
// sheet; row 1 is a header; every row below it with a keyword (column C) is a step, with
// its number (A), description (B) and arguments (D up to the row's last non-empty cell).
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace lumox::workbooks {

namespace py = pybind11;

// The sheet that lists keyword names for the drop-down of the keyword column.
inline constexpr const char *keyword_list_sheet = "_key_word";

struct CaseSheet {
    py::str name;         // the sheet's title
    py::list steps;       // one dict per step: row, index, number, description, keyword, args
    std::string problems; // mistakes in how the sheet is written, one a line; empty if sound
};

// The case sheets of the workbook of the collector `file_node`, in workbook order. A
// workbook that cannot be read raises the node's collection error naming the file.
std::vector<CaseSheet> load_case_sheets(py::handle file_node);

// The number a step is known by: its number cell as written (a whole number without ".0"),
// or, when that cell is empty, its position among the case's steps.
std::string step_label(py::handle step);

// The report step title of a step: its number and description (the keyword when the
// description is empty).
std::string step_title(py::handle step);

} // namespace lumox::workbooks

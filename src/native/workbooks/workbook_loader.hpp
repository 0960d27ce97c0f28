// Reading the cases of a workbook: every sheet but `_key_word` is a case named after the
// sheet; row 1 is a header; every row below it with a keyword (column C) is a step, with
// its number (A), description (B) and arguments (D up to the row's last non-empty cell).
#pragma once

#include <pybind11/pybind11.h>

#include "core/runner_keywords.hpp"

#include <string>
#include <vector>

namespace lumox::workbooks {

namespace py = pybind11;

// The sheet that lists keyword names for the drop-down of the keyword column.
inline constexpr const char *keyword_list_sheet = "_key_word";

// Keywords the runner itself carries out, since they work on rows and sheets:
// `retry <times> <delay> <rows> <until>` runs the rows above it again until they pass,
// `use_data <sheet>` runs the case once per row of a data sheet, and
// `run_sheet <sheet> <name=value>...` runs another sheet's rows with those variables.
inline constexpr const char *retry_keyword = core::kRetryKeyword.name;
inline constexpr const char *use_data_keyword = core::kUseDataKeyword.name;
inline constexpr const char *run_sheet_keyword = core::kRunSheetKeyword.name;

// One row of a case's data sheet: its values by column header, where it is, its item's id.
struct DataSheetRow {
    py::dict values;
    std::string origin; // "sheet 'users', row 3"
    std::string id;
};

struct CaseSheet {
    py::str name;         // the sheet's title
    py::list steps;       // one dict per step: row, index, number, description, keyword, args
    std::string problems; // mistakes in how the sheet is written, one a line; empty if sound
    std::vector<DataSheetRow> rows; // the rows of its data sheet: one item each
};

struct WorkbookCases {
    std::vector<CaseSheet> cases; // in workbook order
    py::dict flows;               // title -> steps of the sheets that run_sheet runs
};

// The case sheets of the workbook of the collector `file_node`, and the sheets they run. A
// sheet that a case reads as data or runs with run_sheet is no case of its own. A workbook
// that cannot be read raises the node's collection error naming the file.
WorkbookCases load_case_sheets(py::handle file_node);

// The number a step is known by: its number cell as written (a whole number without ".0"),
// or, when that cell is empty, its position among the case's steps.
std::string step_label(py::handle step);

// The report step title of a step: its number and description (the keyword when the
// description is empty).
std::string step_title(py::handle step);

} // namespace lumox::workbooks

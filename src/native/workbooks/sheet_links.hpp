// The rows that tie a workbook's sheets together, checked and arranged when it is collected:
// `use_data` binds a case to a data sheet, `run_sheet` runs another sheet as a flow, and
// `retry` repeats the rows above it. Their mistakes (a sheet that is not there, a sheet
// that runs itself, a retry of more rows than stand above it) are the case's problems.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "workbook_loader.hpp"

namespace lumox::workbooks {

namespace py = pybind11;

// The cases among `sheets` (every sheet of the workbook `data`, `where` naming it), with
// their data rows, and the sheets they run. use_data rows leave the steps; retry rows get
// `covers`, `times` and `delay`; the steps of a sheet run by others get `sheet`.
WorkbookCases link_sheets(std::vector<CaseSheet> sheets, py::bytes data, const std::string &where);

} // namespace lumox::workbooks

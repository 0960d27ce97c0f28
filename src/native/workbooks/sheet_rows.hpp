// The cell values of a workbook's sheets, row by row, as openpyxl gives them when it reads
// the workbook read-only with the saved values of formulas.
//
// Most workbooks are read straight from their package by lumox's own reader, which is
// many times faster than openpyxl and spares a run importing it; a workbook that reader
// is not sure to read exactly as openpyxl would (a date cell, an unusual part, a damaged
// file) is read by openpyxl, which then also raises the errors a damaged file deserves.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace lumox::workbooks {

namespace py = pybind11;

struct SheetRow {
    py::ssize_t number; // 1-based
    py::tuple cells;    // column A up to the row's last cell; None where there is no value
};

struct SheetRows {
    py::str title;
    std::vector<SheetRow> rows; // rows with no cell may be left out
};

struct WorkbookRows {
    std::vector<SheetRows> sheets; // worksheets in workbook order, but the one skipped
    // Whether a formula cell may lack its saved value (the file was written by a program
    // that does not compute formulas); only then is it worth looking for such cells.
    bool formulas_without_values = true;
};

// Bounds on what one workbook may expand to, so that a small file cannot take the memory
// of the run: the uncompressed size of each part of the package, and the cells of all its
// sheets together. A keyword workbook holds some thousands of cells.
inline constexpr long long kPartBytesLimit = 50LL * 1024 * 1024;
inline constexpr std::size_t kCellsLimit = 500'000;

// A workbook past one of those bounds; what() says which, naming the part.
struct WorkbookTooLarge : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// lumox's own reader; nothing when the workbook is one for openpyxl. The sheet titled
// `skipped_title` is left out unread. A row without a keyword is kept to its first three
// columns unless `whole_rows` (sheets of data). Throws WorkbookTooLarge past a bound,
// before openpyxl could be asked to read such a workbook.
std::optional<WorkbookRows> read_rows_from_package(py::bytes data, std::string_view skipped_title,
                                                   bool whole_rows = false);

// openpyxl's reader, for every workbook.
WorkbookRows read_rows_with_openpyxl(py::bytes data, std::string_view skipped_title);

// `_sheet_rows(data, own_reader, whole_rows=False)`: what either reader gives, as [(title, [(number, cells)])],
// None when lumox's own reader leaves the workbook to openpyxl. For checking that the two
// agree.
void define_sheet_rows(py::module_ &m);

} // namespace lumox::workbooks

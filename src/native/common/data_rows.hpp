// Rows of test data: a header of column names, then one mapping of column to value per row,
// each with an id for the item it becomes. YAML cases read them from `parameters`, workbook
// cases from a data sheet.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

namespace lumox::py_helpers {

namespace py = pybind11;

// A mistake in the data: the message is the problem itself, the reader adds where.
struct DataProblem {
    std::string message;
};

// Rows of a header and values (CSV, a sheet): each row a mapping of the header's names to
// its cells, blank rows left out. `rows` are (line or row number, cells), the header
// first, and must be row 1. `text_cells` (CSV): every row has the header's width and its
// numbers, true and false are converted from text. A sheet's names end at its first empty
// one (cells right of it are notes), its cells keep their type, an empty one is "".
std::vector<std::pair<std::size_t, py::dict>> rows_under_header(const py::list &rows,
                                                                bool text_cells);

// A column a template or a {name} reference reaches: a Python identifier.
bool is_template_name(py::handle column);

// The id of each row: its `id` column, else its values joined by "-" (secret columns left
// out); a second row of the same values gets "-row<number>" added, a second row of the
// same `id` is a DataProblem.
std::vector<std::string> data_row_ids(const std::vector<std::pair<std::size_t, py::dict>> &rows);

// Whether a column or variable name says it holds a secret (password, token, ...): its
// values are masked wherever a report shows them.
bool is_secret_name(const std::string &name);

// What a failure report says of the row: "data: users.csv, row 3 (user='bob', password='***')".
std::string describe_data_row(py::handle values, const std::string &origin);

} // namespace lumox::py_helpers

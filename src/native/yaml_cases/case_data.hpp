// The rows of data a YAML case runs over (`parameters:`): one pytest item per row, the
// row's values visible to the case's templates by column name.
//
// `parameters` is a list of mappings written in the case, or a data file named by its path
// (relative to the case file): CSV with a header row, JSON or YAML holding a list of
// mappings, or a workbook sheet (`{file: users.xlsx, sheet: users}`, row 1 the header).
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace lumox::yaml_cases {

namespace py = pybind11;

struct DataRow {
    py::dict values;    // column -> value
    std::string origin; // where the row is written: "data/users.csv, row 3"
    std::string id;     // the item's id, from the row's `id` column or its values
};

// The rows of `parameters`; a mistake (a missing file, a row of the wrong width, a column
// no template can name) is appended to `problems`, naming `where`, the file, row and column.
std::vector<DataRow> read_data_rows(py::handle parameters, py::handle case_file,
                                    std::vector<std::string> &problems, const std::string &where);

} // namespace lumox::yaml_cases

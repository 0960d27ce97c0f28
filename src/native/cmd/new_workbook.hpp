// `lumox start NAME`: a new case workbook test_NAME.xlsx from the packaged template, whose
// keyword column offers the keywords of a library in a drop-down list.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::cmd {

namespace py = pybind11;

// Writes test_<name>.xlsx in the working directory. A name that cannot be a sheet title
// or file name is a ValueError, an existing file a FileExistsError (it is never replaced).
void start(py::object name, py::object kw_type);

} // namespace lumox::cmd

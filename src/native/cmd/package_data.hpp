// The data files shipped in the package's folder "file": the pytest.ini template and the
// case workbook template.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::cmd {

namespace py = pybind11;

// pathlib.Path of the data file `name` (next to lumox.cmd, in the folder "file").
py::object data_file(const char *name);

} // namespace lumox::cmd

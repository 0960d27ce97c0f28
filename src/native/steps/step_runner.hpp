// The body of the YAML step hook and of the run-end save.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::steps {

namespace py = pybind11;

// Runs the keys of item.current_step in the order they stand in the step; returns 1.
py::int_ run_step(py::object item, py::object request);

// Writes the run's variables file when lumox.vars_file is set and lumox.vars_save is true.
// A failed save is logged and never propagates. `config` (the pytest config, or None)
// tells a pytest-xdist controller, which saves only what it set itself.
void save_variables(py::object config);

} // namespace lumox::steps

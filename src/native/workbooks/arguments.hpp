// The `{name}` references of step arguments, replaced by run variables just before the
// step runs. The run's variables are the template globals (lumox.templates.env_globals)
// and the variables saved with set_vars (the variables file mapping of the run's
// Exchange); a name found in both has the value of the template globals, where the
// runner also publishes every variable a step saves (see publish_saved_variables).
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::workbooks {

namespace py = pybind11;

// Creates VariableError in `module`: a reference to a name that is no run variable.
void define_variable_error(py::module_ &module);

// `args` with references replaced: an argument that is exactly `{name}` becomes the value
// itself; references inside a longer text become the value's text (texts as they are,
// other values as JSON text, so that they fit into JSON arguments); arguments that are not
// text are kept. Raises VariableError naming the first unknown variable. `own` (a dict, or
// None) are the case's own variables, a data row's or a called sheet's, found first.
py::tuple substitute_arguments(py::handle args, py::handle exchanger, py::handle own = py::none());

// The variables of the exchanger's file as they stand, to be compared after a step.
py::dict snapshot_saved_variables(py::handle exchanger);

// Adds the variables a step saved with set_vars (new or changed since `before`) to the
// template globals, so later steps, workbook cases and YAML cases all see them.
void publish_saved_variables(py::handle exchanger, py::handle before);

} // namespace lumox::workbooks

// Browser keywords beyond clicking and typing, one row each: forms (native selects,
// checkboxes and radio buttons set to a state, files chosen for upload, on a hub too), the
// mouse and the keyboard (double and right click, a click at an offset, drag and drop, keys
// and combinations), windows and tabs, going forward and reloading, cookies, and scripts
// that answer later.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::actlib {

namespace py = pybind11;

void add_form_keywords(py::module_ &module, py::dict ns);
void add_pointer_and_key_keywords(py::module_ &module, py::dict ns);
void add_window_keywords(py::module_ &module, py::dict ns);

} // namespace lumox::actlib

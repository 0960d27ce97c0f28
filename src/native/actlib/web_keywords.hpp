// WebKeyWord: the keyword library for browser tests. A keyword object drives one browser
// session at a time (started by new_driver or taken from a fixture by set_driver): it
// navigates, acts on elements once they can be used, switches frames, answers dialogs and
// saves what the page shows as run variables.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::actlib {

namespace py = pybind11;

// new_driver and close_drivers (with the sessions they keep), for every library that
// drives a device: browsers and apps alike.
void add_session_keywords(py::module_ &module, py::dict ns);

// click, input, save_text and save_attr, which browsers and apps share.
void add_element_keywords(py::module_ &module, py::dict ns);

// Creates the class WebKeyWord (deriving from `base_keyword`) in `module` and returns it.
py::object define_web_keyword(py::module_ &module, py::object base_keyword);

} // namespace lumox::actlib

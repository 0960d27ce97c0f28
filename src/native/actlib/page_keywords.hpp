// What the screen holds, read in one row, for browsers and apps alike: going back, the page
// source, how many elements a locator matches, an element's rectangle, the window's size,
// and a screenshot of the page or of one element attached to the report.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::actlib {

namespace py = pybind11;

void add_screen_keywords(py::module_ &module, py::dict ns);

} // namespace lumox::actlib

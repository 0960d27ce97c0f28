// Waits and checks on elements, one row each: wait until an element shows, goes, or holds
// a text; check at once that it shows, does not, is enabled, holds a text or a value, or
// is not there at all. Browsers also wait for the address and the title.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::actlib {

namespace py = pybind11;

// The element waits and checks, for browsers and apps alike.
void add_check_keywords(py::module_ &module, py::dict ns);

// wait_url and wait_title, which only a browser has.
void add_page_wait_keywords(py::module_ &module, py::dict ns);

} // namespace lumox::actlib

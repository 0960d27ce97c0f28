// AppKeyWord: the keyword library for mobile apps on an Appium server. Besides the element
// keywords of the base it starts activities, switches contexts, long-presses, swipes,
// shakes an emulator, and builds multi-finger touch gestures row by row (ac_new ...
// ac_perform) that reach the device as one W3C action request.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::actlib {

namespace py = pybind11;

// Creates the class AppKeyWord (deriving from `base_keyword`) in `module` and returns it.
py::object define_app_keyword(py::module_ &module, py::object base_keyword);

} // namespace lumox::actlib

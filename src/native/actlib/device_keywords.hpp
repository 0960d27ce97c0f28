// App keywords for the device around the app, one row each: the keyboard and key codes,
// scrolling until an element is on screen, swipes in percentages of the screen, installing,
// starting, stopping and backgrounding apps, the orientation, files on the device, and the
// current context and activity saved as variables.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::actlib {

namespace py = pybind11;

void add_device_action_keywords(py::module_ &module, py::dict ns);

} // namespace lumox::actlib

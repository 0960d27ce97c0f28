// The settings groups lumox, lumox_api and lumox_ui.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::settings {

namespace py = pybind11;

// Creates the group classes and their instances `lumox`, `lumox_api`, `lumox_ui` in `m`,
// reading pytest.ini and the environment once. Needs the value types of types.hpp.
void add_setting_groups(py::module_ &m);

} // namespace lumox::settings

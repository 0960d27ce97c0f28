// The session a keyword object drives (a browser, or an app on an Appium server), shared
// by the Web and App keywords.
#pragma once

#include "native/common/keyword.hpp"

#include <pybind11/pybind11.h>

#include <optional>

namespace lumox::actlib {

namespace py = pybind11;

// The keyword object's driver; a clear error while there is none yet.
py::object driver_of(const py_helpers::KeywordArgs &call);

// The element of a locator expression, found through the object's find_element.
py::object find(const py_helpers::KeywordArgs &call, py::handle locator);

// A duration typed into a row (a number or numeric text) as seconds: finite and not
// negative; nothing for anything else (truth values included).
std::optional<double> seconds_of(py::handle value);

} // namespace lumox::actlib

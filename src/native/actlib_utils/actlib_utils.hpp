// Pieces of lumox.actlib_utils, the keyword engine core: each defines one class of the
// module; this header holds what they share.
#pragma once

#include "native/common/errors.hpp"
#include "native/common/pylog.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::actlib_utils {

namespace py = pybind11;

const py_helpers::Logger &logger();

using py_helpers::raise_argument_type;

// A browser session (as opposed to a native app): its capabilities name a browser.
bool is_browser_session(py::handle driver);

// The class `name` of this module, looked up at call time (so it is the one tests and
// subclasses see).
py::object module_class(const char *name);

py::object define_locator(py::module_ &module);
py::object define_validator(py::module_ &module);
py::object define_base_keyword(py::module_ &module);
py::object define_action_chains(py::module_ &module);
py::object define_mock_request(py::module_ &module);

} // namespace lumox::actlib_utils

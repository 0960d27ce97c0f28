// Small pieces shared by the API, Web and App keywords.
#pragma once

#include "native/common/pylog.hpp"

#include <pybind11/pybind11.h>

namespace lumox::actlib {

namespace py = pybind11;

// The logger of the keyword libraries' lines.
inline const py_helpers::Logger &actlib_log() { return py_helpers::get_logger("lumox.actlib"); }

inline py::module_ json() { return py::module_::import("json"); }

} // namespace lumox::actlib

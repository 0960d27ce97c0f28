// Validation of an HTTP response against the `response` section of a YAML step.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::responses {

namespace py = pybind11;

// Checks `resp` against the sections status_code, headers, text and json, in the order
// given. Returns part -> reason for every failed check; an empty dict means valid.
py::dict validator(py::object resp, py::kwargs sections);

} // namespace lumox::responses

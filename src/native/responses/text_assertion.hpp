// Text assertions: one expected value and the way it is matched (glob, same, re,
// contains), built from what testers write in YAML and used by the response validator
// and by `validate` steps.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::responses {

namespace py = pybind11;

// Creates the classes TextAssertion (the record) and TextField (its builder) in `m`.
void add_text_assertion_classes(py::module_ &m);

// TextField.form_asserts(name, data) of this module.
py::object form_asserts(py::handle name, py::handle data);

// Checks `actual` (taken in its text form) against the record `assertion`. Returns an
// empty text when it passes, otherwise the reason: expected versus actual.
std::string check_text(py::handle assertion, py::handle actual);

// The reason for a check that found no actual value at all, e.g. a missing header.
std::string missing_reason(py::handle assertion, const std::string &what_is_missing);

} // namespace lumox::responses

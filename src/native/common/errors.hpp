// Raising Python errors with the system's own messages from C++.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::py_helpers {

namespace py = pybind11;

// Raises the Python exception `type` (a class, e.g. PyExc_ValueError) with `message`.
[[noreturn]] void raise_error(py::handle type, const std::string &message);

// Raises `type` with `message`, chained to the error being handled (raise ... from error).
[[noreturn]] void raise_from(py::error_already_set &cause, py::handle type,
                             const std::string &message);

// TypeError "<where> argument '<name>' must be <expected>, not <type of value>".
[[noreturn]] void raise_argument_type(const std::string &where, const char *name,
                                      const char *expected, py::handle value);

// Adds a note to the Python error (shown below its message in tracebacks and in lumox's
// failure reports) without changing the error's type or message.
void add_note(py::error_already_set &error, const std::string &note);

} // namespace lumox::py_helpers

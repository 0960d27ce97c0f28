// Module initialization whose errors read well at import.
//
// pybind11 reports any error raised while a module initializes as
// "ImportError: initialization failed" and hides the cause, so a tester with a typo in
// pytest.ini would never learn which key is wrong. Running the initialization through
// `init_module` turns the error into an ImportError that carries the original type and
// message, e.g. "SettingsError: pytest.ini [lumox_ui] wait_max = 'soon': ...".
#pragma once

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

namespace lumox::py_helpers {

namespace py = pybind11;

template <typename F>
void init_module(F &&body) {
    try {
        body();
    } catch (py::error_already_set &error) {
        if (error.matches(PyExc_KeyboardInterrupt) || error.matches(PyExc_SystemExit)) {
            throw;
        }
        std::string message = py::str(error.value()).cast<std::string>();
        if (!error.matches(PyExc_ImportError)) {
            // pybind11 turns a std::exception leaving module initialization into an
            // ImportError with exactly this text.
            std::string type = py::str(error.type().attr("__name__")).cast<std::string>();
            message = type + ": " + message;
        }
        throw std::runtime_error(message);
    }
}

} // namespace lumox::py_helpers

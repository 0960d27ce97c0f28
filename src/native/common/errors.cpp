#include "errors.hpp"

namespace lumox::py_helpers {

void raise_error(py::handle type, const std::string &message) {
    PyErr_SetString(type.ptr(), message.c_str());
    throw py::error_already_set();
}

void raise_from(py::error_already_set &cause, py::handle type, const std::string &message) {
    py::raise_from(cause, type.ptr(), message.c_str());
    throw py::error_already_set();
}

void raise_argument_type(const std::string &where, const char *name, const char *expected,
                         py::handle value) {
    const std::string given = py::str(py::type::handle_of(value).attr("__name__"));
    raise_error(PyExc_TypeError,
                where + " argument '" + name + "' must be " + expected + ", not " + given);
}

void add_note(py::error_already_set &error, const std::string &note) {
    error.value().attr("add_note")(note);
}

} // namespace lumox::py_helpers

// The truth value of a Python object, as `if value:` tests it.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::py_helpers {

// Python truth value of `value` (bool(value)); errors of __bool__/__len__ propagate.
inline bool truthy(pybind11::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0) {
        throw pybind11::error_already_set();
    }
    return result != 0;
}

} // namespace lumox::py_helpers

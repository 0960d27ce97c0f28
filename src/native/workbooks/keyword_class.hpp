// The class of the keyword objects of workbook cases, chosen by the setting
// [lumox] keyword_type: all, api, web or app pick a library through
// lumox.actlib.get_class_by_type; module:ClassName names a tester's own class.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::workbooks {

namespace py = pybind11;

// The setting's current value.
py::str keyword_type_setting();

// The keyword class the setting names. Import errors and missing names propagate; a name
// that is not a class raises TypeError.
py::object keyword_class();

} // namespace lumox::workbooks

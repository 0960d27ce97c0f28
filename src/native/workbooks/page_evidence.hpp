// What the browser showed when a workbook step failed: a screenshot, the page's URL and
// its title, attached to the step's report entry so the tester sees the moment of failure.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::workbooks {

namespace py = pybind11;

// Attaches a PNG screenshot, the URL and the title of the keyword object's session to the
// report step that is open now, and returns (url, title), each None when it could not be
// read; None when the object drives no session. Never raises for a session that is gone or
// busy: the step's own error is the one to report.
py::object capture_page(py::handle keyword_object);

} // namespace lumox::workbooks

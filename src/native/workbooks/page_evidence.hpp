// What the screen showed when a workbook step failed, attached to the step's report entry
// so the tester sees the moment of failure: a screenshot, and the page's URL and title for a
// browser or the element tree (page source) for an app.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::workbooks {

namespace py = pybind11;

// Attaches the evidence of the keyword object's session to the report step that is open
// now and returns the lines the failure report shows about it ("page: ...", "title: ..." or
// "context: ..."); None when the object drives no session. Never raises for a session that is gone or
// busy: the step's own error is the one to report.
py::object capture_page(py::handle keyword_object);

// Attaches the whole text of a WebDriver error whose native stack the failure line leaves
// out ("Stacktrace:\n#0 0x55d… <unknown>"), so that nothing the driver said is lost.
void attach_driver_stack(py::handle error);

} // namespace lumox::workbooks

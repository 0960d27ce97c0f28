// Each HTTP exchange of a step as two attachments of its report step, "request" and
// "response": what a tester needs to see why a step failed, secrets masked.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::py_helpers {

namespace py = pybind11;

// True while a report (Allure results) is being written, so that attachments are made.
bool report_is_recording();

// Attaches the request and the response of the httpx.Response `response` (body read) to
// the report step that is open now; does nothing when no report is being written.
void attach_http_exchange(py::handle response);

} // namespace lumox::py_helpers

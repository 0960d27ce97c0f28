// Pieces shared by the channels and the run summary of lumox.sender.
#pragma once

#include "native/common/pylog.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::sender {

namespace py = pybind11;

const py_helpers::Logger &logger();

// The settings group `lumox`, read anew at every send.
py::object lumox_settings();

// str(value) as UTF-8. Lone surrogates (an environment variable that is not UTF-8)
// become backslash escapes instead of failing the notice.
std::string utf8_text(py::handle value);

bool truthy(py::handle value);

// At least one channel has the settings it needs to send.
bool any_channel_configured();

void define_channels(py::module_ &m);
void define_run_summary(py::module_ &m);

} // namespace lumox::sender

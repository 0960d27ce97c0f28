// Pieces shared by the channels and the run summary of lumox.sender.
#pragma once

#include "native/common/pylog.hpp"
#include "native/common/truthy.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::sender {

namespace py = pybind11;

const py_helpers::Logger &logger();

inline py::module_ import(const char *name) { return py::module_::import(name); }

// The settings group `lumox`, read anew at every send.
py::object lumox_settings();

// str(value) as UTF-8, lone surrogates escaped; and the truth value of a setting.
using py_helpers::to_str;
using py_helpers::truthy;

// At least one channel has the settings it needs to send.
bool any_channel_configured();

void define_notice_pool(py::module_ &m);
void define_channels(py::module_ &m);
void define_run_summary(py::module_ &m);

} // namespace lumox::sender

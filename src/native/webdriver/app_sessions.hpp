// Mobile app sessions: an Appium server drives the device, through the Appium Python
// client (imported only when an app session is asked for).
#pragma once

#include "remote.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::webdriver {

namespace py = pybind11;

// A new session on the Appium server `server` (opened by open_remote_session) for the
// platform `platform` ("Android", "iOS"), which is the platformName unless `capabilities`
// (a dict or None) names one.
// Capability names without a vendor prefix get "appium:" (W3C standard names excepted).
py::object app_session(const std::string &platform, const Hub &server, py::object capabilities);

} // namespace lumox::webdriver

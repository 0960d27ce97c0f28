// Browser session classes handed to testers: selenium's driver classes plus `debugger()`,
// and a `quit()` that also removes the session's own profile directory.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::webdriver {

namespace py = pybind11;

// The attribute holding the temporary profile directory removed by quit().
inline constexpr const char *kProfileDirAttr = "_lumox_user_data_dir";
// True on a browser session lumox started headless: its window has the size it has
// (maximising changes nothing and costs a round trip).
inline constexpr const char *kHeadlessAttr = "lumox_headless";

// The class `name` of lumox.webdriver deriving from the selenium class `base`, created on
// first use (so importing lumox does not import selenium's drivers).
py::object session_class(const char *name, py::object base);

// Defines `debugger(driver)` and the hooks `run_started(config)` / `run_ended(config)` that
// tell it which pytest run (and so which output capture) it works in.
void define_debugger(py::module_ &module);

} // namespace lumox::webdriver

// Settings from the configuration file pytest uses. pytest finds its pytest.ini (or
// tox.ini, setup.cfg) from the arguments and the rootdir, not only in the working
// directory; lumox's settings come from the same file, so `cd sub && pytest` with the
// file in the parent directory still gets its base_url.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::steps {

namespace py = pybind11;

// At the start of a run: the settings follow config.inipath when it is an INI file other
// than ./pytest.ini, and the run-wide client takes the base address read from it.
void follow_run_config(py::object config);

// At the end of a run: back to the file used before it.
void leave_run_config(py::object config);

} // namespace lumox::steps

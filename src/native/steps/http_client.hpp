// HTTPClient: the run's HTTP client, an httpx.Client that logs every request and
// response on "lumox.http".
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::steps {

namespace py = pybind11;

// Creates the class HTTPClient (a Python heap type deriving from httpx.Client) in `module`
// and returns it.
py::object define_http_client(py::module_ &module);

} // namespace lumox::steps

// ApiKeyWord: the keyword library for HTTP API tests. A keyword object owns one httpx
// client (client-wide base address, headers, cookies, query parameters and redirect flag)
// and one request record under construction; keywords fill the record, send it and save
// parts of the response as run variables.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::actlib {

namespace py = pybind11;

// Creates the class ApiKeyWord (deriving from `base_keyword`) in `module` and returns it.
py::object define_api_keyword(py::module_ &module, py::object base_keyword);

} // namespace lumox::actlib

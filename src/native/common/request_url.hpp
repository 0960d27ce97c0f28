// The address check of every request of the HTTP clients: a relative URL without a base
// address is the tester's setting left empty (as the generated pytest.ini leaves it), said
// so before anything is sent instead of httpx's "missing an 'http://' or 'https://'
// protocol".
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::py_helpers {

namespace py = pybind11;

// Raises ValueError naming [lumox_api] base_url when `request` (an httpx.Request) has no
// absolute URL; `other_way` adds how else the address may be given ("" for none).
void require_absolute_url(py::handle request, const std::string &other_way);

} // namespace lumox::py_helpers

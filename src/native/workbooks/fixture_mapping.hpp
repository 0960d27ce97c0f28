// The fixtures of a case as a mapping for the keyword object: any fixture is looked up by
// name through the case's fixture request on first use (`set_driver chrome` starts the
// `chrome` fixture then), and kept for the rest of the case.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::workbooks {

namespace py = pybind11;

// Creates the class FixtureMapping (a collections.abc.Mapping) in `module`.
void define_fixture_mapping(py::module_ &module);

// A FixtureMapping over the fixture request `request`.
py::object make_fixture_mapping(py::handle request);

} // namespace lumox::workbooks

// Case files read straight from libyaml's events into Python values, with PyYAML's
// SafeLoader meaning of every scalar. PyYAML's own loader resolves each scalar in Python,
// which made reading ten thousand cases take seconds; this takes a tenth of that.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <vector>

namespace lumox::yaml_cases {

namespace py = pybind11;

struct Document {
    py::object value;  // None for an empty document
    py::ssize_t line0; // 0-based line where it starts
};

// The documents of `text`, or nothing when the text needs PyYAML: a syntax error (whose
// message PyYAML words best), an explicit tag, a merge key, or a scalar that SafeLoader
// reads as something other than text, a whole number, a decimal fraction, true/false or
// null (octal, sexagesimal, timestamps, ...). Also nothing when lumox was built without
// libyaml.
std::optional<std::vector<Document>> load_with_libyaml(py::handle text);

} // namespace lumox::yaml_cases

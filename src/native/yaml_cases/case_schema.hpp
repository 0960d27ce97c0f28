// The JSON Schema of case files, built from the case format tables (core/case_format.hpp),
// and checking the values of a case against it: the schema editors check cases with
// (`lumox schema`) is the one collection checks them with.
//
// The checker knows the part of JSON Schema that file uses ($ref, type, enum, const,
// pattern, minimum, items, minItems, maxItems, properties, required, additionalProperties,
// anyOf, allOf, not) and words each mistake for a tester: where it is, what is allowed
// there and what was written.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace lumox::yaml_cases {

namespace py = pybind11;

// The whole schema, built once.
py::dict case_schema();

// The case format as declared: one {"name", "keys"} mapping per section, each key a
// {"name", "required", "meaning", "schema"} mapping, in the order of the tables.
py::list case_format();

// The schema of one step key ("request", "response", ...), or None for a key the schema
// does not describe.
py::object step_key_schema(const std::string &key);

// Appends one line per mistake in `value` checked against `schema`; `path` names the value
// ("request.timeout"). Unknown keys of the request and response mappings are left to the
// caller, who words them with "did you mean" and knows the strict setting.
void check_value(py::handle schema, py::handle value, const std::string &path,
                 std::vector<std::string> &problems);

} // namespace lumox::yaml_cases

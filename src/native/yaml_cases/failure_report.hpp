// What a tester reads when a YAML case fails: the case, its file, the failing step as it
// was sent (or as written, when rendering it failed) and the error in one line -- not the
// frames of the machinery that ran it.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::yaml_cases {

namespace py = pybind11;

// Where and how a step failed; kept on the item between runtest and repr_failure.
struct StepFailure {
    py::object error;  // the exception raised by the step
    py::ssize_t index; // 1-based step number
    py::object step;   // the step as rendered, or as written when rendered is false
    bool rendered;
    py::object trail;  // the flow calls on the way to a step inside a flow, or None
    std::string label; // that step: "step 1 of flow 'login'"; empty for the case's own
    py::object data;   // the case's data row, described, or None
};

// Creates the class YamlCaseFailure in `module`: a report representation with the
// `toterminal`/`reprcrash` interface pytest's terminal, summary and junitxml read.
void define_failure_report(py::module_ &module);

// The report of `failure` of the case item `item`. With --fulltrace pytest's own traceback
// of `excinfo` follows the summary.
py::object failure_report(py::handle item, py::handle excinfo, const StepFailure &failure);

} // namespace lumox::yaml_cases

// Flows: named lists of YAML steps with parameters, written once in a `flows.yaml` file and
// run by any case below it with a step `use: login` and `with: {user: bob}`.
//
// A case finds the flows of the `flows.yaml` (or `flows.yml`) files in its own folder and
// in each folder above it up to the rootdir, the nearest first, as pytest finds conftest.py
// files. A flow is a mapping with `steps` and optional `params`: parameter names with
// their default, a parameter written without a value being one every call must give. Its
// steps see the run's variables and its parameters (not the calling case's data), and
// what they extract is saved for the steps after the call, as any step's is.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "case_loader.hpp"

namespace lumox::yaml_cases {

namespace py = pybind11;

struct Flow {
    std::string name;
    std::string file;                // the flows file, as the report shows it
    py::object path;                 // the flows file, where its own `use` steps look
    py::list steps;                  // as written
    std::vector<std::string> params; // in the order written
    py::dict defaults;               // the parameters with a default
};

// The flow `name` as a case of the file `case_file` (a path) sees it; nullptr with
// `problem` set when there is none or its file is broken.
const Flow *find_flow(py::handle case_file, py::handle rootdir, const std::string &name,
                      const StepChecks &checks, std::string &problem);

// Checks the `use` steps among `steps` (of a case or a flow that `where` names): the flow
// is there, `with` gives its parameters and only those, and no flow calls itself on the
// way (`calling` holds the flows being called, outermost first; `calling_where` names the
// case's step they were called from).
void check_uses(py::handle steps, py::handle case_file, py::handle rootdir,
                const StepChecks &checks, std::vector<std::string> &calling,
                std::vector<std::string> &problems, const std::string &where,
                const std::string &calling_where = "");

// The variables a call of `flow` runs with: its defaults, then `given` (the rendered `with`).
py::dict flow_variables(const Flow &flow, py::handle given);

} // namespace lumox::yaml_cases

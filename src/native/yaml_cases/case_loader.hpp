// Reading a `test_*.yaml` file into its cases.
//
// One YAML document is one case: a mapping with `test_name`, `steps` (a list of mappings)
// and optional `marks`. A file that cannot be read as YAML is one collection error; a
// document that is not a sound case is a case of its own whose problems (all of them,
// naming the file, the document and the case) are its error, and the other cases run.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "case_data.hpp"

namespace lumox::yaml_cases {

namespace py = pybind11;

// How closely the steps are checked.
struct StepChecks {
    bool strict_keys; // [lumox] strict_steps: every unknown key is a mistake
    bool value_types; // lumox runs the steps, so their values must be what it sends
};

struct CaseSpec {
    py::str name;               // test_name, the item's name
    py::dict document;          // the case as written
    py::list steps;             // its steps as written
    py::list marks;             // pytest Mark objects built from `marks`
    py::ssize_t line0;          // 0-based line where the case's document starts
    py::ssize_t document_index; // 0-based place of its document among the file's
    std::vector<DataRow> rows;  // its `parameters`: one item each; none, one item
};

// The run's rootdir: flows files are looked for up to it.
py::object rootdir_of(py::handle file_node);

// A document that is not a sound case: the name its item gets (test_name when it is
// usable and free, else "document N") and what is wrong with it, one problem a line.
struct BrokenCase {
    py::str name;
    std::string problems;
    py::ssize_t line0; // 0-based line where its document starts
};

struct LoadedFile {
    py::str text; // as read, to read the documents again from
    std::vector<CaseSpec> cases;
    std::vector<BrokenCase> broken;
};

// Reads and checks the file of the collector `file_node` (a pytest.File). Raises the
// collector's CollectError when the file is no YAML text; marks unknown to pytest fail the
// way pytest reports them (--strict-markers).
LoadedFile load_cases(py::handle file_node);

// The values of every document of `text`, the file's text as load_cases read it, read the
// same way once more (new objects, equal to the first reading).
py::list read_documents_again(py::handle file_node, py::str text);

// How the steps of the file of the collector `file_node` are checked.
StepChecks step_checks(py::handle file_node);

// Checks `steps`, a list of step mappings of a case or a flow that `where` names; appends
// the problems and returns the list (empty when it is no list).
py::list check_steps(py::handle steps, const StepChecks &checks, std::vector<std::string> &problems,
                     const std::string &where);

// A short printable description of a YAML value for messages: its kind and its text.
std::string describe_value(py::handle value);

} // namespace lumox::yaml_cases

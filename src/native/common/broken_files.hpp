// Case files that cannot be loaded (a YAML file, a workbook) are collection errors, yet
// they must not keep the other files from running. pytest stops before the first test
// when the session counts collection failures, so the case runners count their broken
// files here and take them out of the session's failure count for the test loop; the
// caller puts them back afterwards, so the run still fails.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::py_helpers {

namespace py = pybind11;

// While `lumox check` runs, the lumox package holds a list under this name: each collection
// error of a case file is added to it as well, and the collectors look for problems they
// otherwise leave to the run (unknown keywords).
inline constexpr const char *kCheckProblemsAttr = "_check_problems";

// The list of a running check, or None.
py::object check_problems();

// Raises the collection error of the case file node `file_node` (pytest reports it with
// `message` alone, without a traceback).
[[noreturn]] void raise_collect_error(py::handle file_node, const std::string &message);

// Counts one case file of `session` that failed to load.
void count_broken_case_file(py::handle session);

// Takes the broken case files counted so far out of `session.testsfailed` and returns how
// many they were. Each one is excused once: a second call returns 0 until more are counted,
// so every case runner's test-loop wrapper may call it.
int excuse_broken_case_files(py::handle session);

} // namespace lumox::py_helpers

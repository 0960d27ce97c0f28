// Running the report tool (Allure's command line). No shell is involved: the tool, the
// results directory and the report directory stay one argument each, so paths with blanks
// or shell characters work and no setting can run another command. The tool setting may
// hold several words (`npx allure`), split as a shell would; `~` and `$VAR` in its words
// are expanded, as the shell once did.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <optional>

namespace lumox::cmd {

namespace py = pybind11;

// Runs `tool` (the text of [lumox] allure_path) with `args`, its output on this process's
// streams, and returns its exit status; nothing, after printing why, when it cannot start.
// The tool runs in a process group of its own, which is stopped whenever this call ends
// early (Ctrl-C, SIGTERM, an error): `allure open` leaves a Java server behind otherwise.
std::optional<int> run_tool(py::handle tool, std::initializer_list<py::object> args);

// `path` with `~` and `$VAR` expanded.
py::str expanded_path(py::handle path);

} // namespace lumox::cmd

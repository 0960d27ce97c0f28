// Cases that run once for the whole run, however many pytest-xdist workers and machines
// share it: the `run_once` mark (a login whose token every case uses).
//
// The processes of one run meet in a folder: `--share-dir` (or LUMOX_SHARE_DIR; a folder
// every machine sees), in it one folder per `--run-id` (or LUMOX_RUN_ID, such as the CI
// pipeline's number); pytest-xdist workers of one machine use one under the system's temp
// folder, named by their run. The first process to reach a run_once case claims it (a
// file created exclusively) and runs it; the others wait for its outcome and the variables
// it saved, take the variables and show the case as skipped ("ran once in ..."), or failed
// when it failed. Every other case waits for the run_once cases before it starts.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::runs {

namespace py = pybind11;

void add_once_options(py::handle parser);

// Works out (and makes) the run's meeting folder when the run starts: a --share-dir without
// a run id is a usage error before any case runs.
void check_share_folder(py::handle config);

// run_once cases first: they run before the cases that need what they save.
void put_once_first(py::list items);

// At the setup of each case: claims or waits for a run_once case; before the first other
// case, waits for every run_once case of the run.
void before_case(py::handle item);

// At each report of a case this process claimed: its outcome and variables for the others.
void after_report(py::handle report);

// Whether a report is that of a run_once case that ran in another process (skipped, or
// failed with that process's failure): that process counts it.
bool ran_elsewhere(py::handle report);

} // namespace lumox::runs

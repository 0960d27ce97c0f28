// The results of a run split over machines, brought together: each shard's Allure results
// folder holds its counts (lumox-summary.json, written at the end of the run); `merge`
// copies the folders into one, for one report, and `notify` sends one run summary with
// the counts of them all.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::runs {

namespace py = pybind11;

// The summary file of a results folder.
inline constexpr const char *kSummaryFile = "lumox-summary.json";

// The counts of several runs as one: counted cases summed, the collection the largest,
// the time from the first start to the last end.
py::dict summed_summaries(py::list summaries);

// Copies the results folders `sources` into `into`; returns the summed summary written
// there. A file of the same name in two folders is copied once when it is the same, and
// else kept from the first folder (Allure names results and attachments uniquely).
py::dict merge_results(py::list sources, py::object into);

// Sends the run summary of the results folders `sources` once (lumox.sender.send_result)
// and returns the counts sent.
py::dict notify_results(py::list sources);

} // namespace lumox::runs

// One run split over machines: `--shard K/N` keeps the K-th of N parts of the collected
// cases, the same parts on every machine. Cases of one file stay together (they share the
// variables their steps save), as do the cases of one `shard_group` mark; cases marked
// `run_once` are in every part (one of them runs them, see run_once.hpp). With durations
// of earlier runs (`--store-durations`, read from `--durations-file`) the parts are
// balanced by time, else by the number of cases.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::runs {

namespace py = pybind11;

// The options of shards and durations on pytest's `parser`.
void add_shard_options(py::handle parser);

// Keeps the items of this shard in `items` and reports the others as deselected.
void select_shard(py::handle config, py::list items);

// Adds the duration of a test report's phases to those of this run.
void record_duration(py::handle report);

// Writes this run's durations into the durations file, with those of cases that did not
// run this time, when --store-durations is on (by the process that saw every report).
void store_durations(py::handle config);

} // namespace lumox::runs

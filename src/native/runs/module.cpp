// lumox.runs: one run over many processes and machines. `--shard K/N` splits the cases
// (shards.hpp), `run_once` cases run in one process of the run (run_once.hpp), and the
// results folders of the shards come together for one report and one summary
// (results.hpp). The hooks of lumox._plugin call in here.
#include <pybind11/pybind11.h>

#include "native/common/module_init.hpp"
#include "results.hpp"
#include "run_once.hpp"
#include "shards.hpp"

namespace py = pybind11;
using namespace lumox::runs;

namespace {

void add_options(py::object parser) {
    add_shard_options(parser);
    add_once_options(parser);
    parser.attr("getgroup")("lumox", "lumox")
        .attr("addoption")("--no-notify", py::arg("dest") = "lumox_no_notify",
                           py::arg("action") = "store_true",
                           py::arg("help") = "send no run summary at the end (a shard of a run "
                                             "whose summary `lumox notify` sends)");
}

void arrange_items(py::object config, py::list items) {
    select_shard(config, items);
    put_once_first(items);
}

} // namespace

PYBIND11_MODULE(runs, m) {
    m.doc() = "One run over many processes and machines: shards, run_once cases, merged "
              "results and one summary.";
    lumox::py_helpers::init_module([&] {
        m.attr("summary_file") = kSummaryFile;
        m.def("add_options", &add_options, py::arg("parser"),
              "Adds --shard, --durations-file, --store-durations, --share-dir, --run-id, "
              "--run-once-timeout and --no-notify.");
        m.def("check_share_folder", &check_share_folder, py::arg("config"),
              "Makes the run's meeting folder of run_once cases; a --share-dir without a "
              "run id is a usage error.");
        m.def("arrange_items", &arrange_items, py::arg("config"), py::arg("items"),
              "Keeps this shard's items (--shard) and puts the run_once cases first.");
        m.def("record_duration", &record_duration, py::arg("report"),
              "Adds a test report's duration to this run's durations.");
        m.def("store_durations", &store_durations, py::arg("config"),
              "Writes the run's durations into the durations file (--store-durations).");
        m.def("before_case", &before_case, py::arg("item"),
              "Claims or waits for a run_once case; before other cases, waits for them all.");
        m.def("after_report", &after_report, py::arg("report"),
              "Leaves the outcome and variables of a run_once case this process ran.");
        m.def("ran_elsewhere", &ran_elsewhere, py::arg("report"),
              "Whether a report is that of a run_once case run by another process.");
        m.def("summed_summaries", &summed_summaries, py::arg("summaries"),
              "The counts of several runs' summaries as one run's.");
        m.def("merge_results", &merge_results, py::arg("sources"), py::arg("into"),
              "Copies the Allure results folders into one, with their summed summary.");
        m.def("notify_results", &notify_results, py::arg("sources"),
              "Sends one run summary for the results folders and returns its counts.");
    });
}

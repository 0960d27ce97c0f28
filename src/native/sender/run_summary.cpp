// The summary of a finished pytest run, gathered from pytest's terminal reporter and
// handed to send_result.
//
// Under pytest-xdist the controller collects nothing itself: it learns only the ids its
// workers selected. The workers therefore hand their collection counts over in
// `workeroutput`, and the controller keeps them in its config's stash for the summary.
#include "sender.hpp"

#include "core/notice_text.hpp"

#include <string>

namespace lumox::sender {

namespace {

constexpr const char *kWorkerOutputKey = "lumox_collection";

// The stash key of the workers' counts, made once per process.
py::object collection_key() {
    py::module_ self = import("lumox.sender");
    if (!py::hasattr(self, "_collection_key")) {
        self.attr("_collection_key") = import("pytest").attr("StashKey")();
    }
    return self.attr("_collection_key");
}

py::ssize_t reported(py::handle stats, const char *category) {
    return py::len(stats.attr("get")(category, py::list()));
}

bool is_worker(py::handle config) { return py::hasattr(config, "workerinput"); }

// Seconds since the session started, as the terminal reporter measured it (pytest 8.4
// keeps an Instant, earlier versions a time stamp).
double session_seconds(py::handle reporter) {
    if (py::hasattr(reporter, "_session_start")) {
        return reporter.attr("_session_start").attr("elapsed")().attr("seconds").cast<double>();
    }
    if (py::hasattr(reporter, "_sessionstarttime")) {
        return import("time").attr("time")().cast<double>() -
               reporter.attr("_sessionstarttime").cast<double>();
    }
    return 0.0;
}

void share_collection(py::object session) {
    py::object config = session.attr("config");
    if (!is_worker(config)) {
        return;
    }
    py::object reporter = config.attr("pluginmanager").attr("get_plugin")("terminalreporter");
    if (reporter.is_none()) {
        return;
    }
    py::dict counts;
    counts["collected"] = reporter.attr("_numcollected");
    counts["deselected"] = reported(reporter.attr("stats"), "deselected");
    config.attr("workeroutput")[kWorkerOutputKey] = counts;
}

void gather_collection(py::object node) {
    py::object output = py::getattr(node, "workeroutput", py::none());
    if (output.is_none() || !output.contains(kWorkerOutputKey)) {
        return;
    }
    // Every worker collects the whole suite; any one of them tells the counts.
    node.attr("config").attr("stash")[collection_key()] = output[kWorkerOutputKey];
}

// Reports of run_once cases that ran in another process of the run: that one counts them.
bool ran_elsewhere(py::handle report) {
    return truthy(import("lumox.runs").attr("ran_elsewhere")(report));
}

// The counters of the run: collected, selected, pytest's counts and the failed cases.
py::dict run_counters(py::object reporter) {
    py::object config = reporter.attr("config");
    py::object stats = reporter.attr("stats");
    py::object shared = config.attr("stash").attr("get")(collection_key(), py::none());
    py::ssize_t collected = 0;
    py::ssize_t deselected = 0;
    if (!shared.is_none()) {
        collected = shared["collected"].cast<py::ssize_t>();
        deselected = shared["deselected"].cast<py::ssize_t>();
    } else {
        collected = reporter.attr("_numcollected").cast<py::ssize_t>();
        deselected = reported(stats, "deselected");
    }
    // Run_once cases another process ran are that process's to count.
    py::set elsewhere;
    py::dict counted;
    py::list failed_cases;
    for (const char *category : {"passed", "failed", "error", "skipped"}) {
        py::ssize_t count = 0;
        for (py::handle report : stats.attr("get")(category, py::list())) {
            if (ran_elsewhere(report)) {
                elsewhere.add(py::getattr(report, "nodeid", py::str("?")));
                continue;
            }
            ++count;
            if (std::string(category) == "failed" || std::string(category) == "error") {
                failed_cases.append(py::getattr(report, "nodeid", py::str("?")));
            }
        }
        counted[category] = count;
    }
    py::dict data;
    data["total"] = collected;
    data["select"] = collected - deselected - static_cast<py::ssize_t>(py::len(elsewhere));
    for (const char *category : {"passed", "failed", "error", "skipped"}) {
        data[category] = counted[category];
    }
    // A case that failed and also erred at teardown is named once.
    data["failed_cases"] = py::list(import("builtins").attr("dict").attr("fromkeys")(failed_cases));
    const double seconds = session_seconds(reporter);
    data["tims"] = core::duration_text(seconds);
    data["date"] = import("time").attr("strftime")("%Y-%m-%d %H:%M:%S");
    data["finished"] = import("time").attr("time")();
    data["started"] = data["finished"].cast<double>() - seconds;
    return data;
}

// The counters, in the run's Allure results folder: `lumox notify` sums the folders of the
// shards of one run.
void write_summary(py::object config, const py::dict &data) {
    py::object folder = py::none();
    try {
        folder = config.attr("getoption")("allure_report_dir");
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) {
            throw; // no allure-pytest: no results folder
        }
    }
    if (folder.is_none() || to_str(folder).empty()) {
        return;
    }
    py::object path = import("pathlib").attr("Path")(folder).attr("expanduser")();
    if (!path.attr("is_dir")().cast<bool>()) {
        return;
    }
    py::dict written(import("builtins").attr("dict")(data));
    written["shard"] = config.attr("getoption")("lumox_shard");
    path.attr("joinpath")(import("lumox.runs").attr("summary_file"))
        .attr("write_text")(import("json").attr("dumps")(written, py::arg("ensure_ascii") = false,
                                                         py::arg("indent") = 1),
                            py::arg("encoding") = "utf-8");
}

void send_run_summary(py::object reporter) {
    py::object config = reporter.attr("config");
    if (is_worker(config) || truthy(config.attr("getoption")("collectonly"))) {
        return; // a worker's counts are the controller's to tell; with --co nothing ran
    }
    py::dict data = run_counters(reporter);
    write_summary(config, data);
    if (!any_channel_configured() || truthy(config.attr("getoption")("lumox_no_notify"))) {
        return;
    }
    import("lumox.sender").attr("send_result")(data);
}

} // namespace

void define_run_summary(py::module_ &m) {
    m.def("send_run_summary", &send_run_summary, py::arg("terminalreporter"),
          "send_run_summary(terminalreporter) -> None\n\n"
          "At the end of a pytest run: writes the run's counters (collected, selected, passed, "
          "failed, error, skipped, duration, finish time) into lumox-summary.json of the "
          "Allure results folder and, with at least one channel configured and no "
          "--no-notify, sends them through send_result. Does nothing on pytest-xdist workers "
          "and for --collect-only.");
    m.def("share_collection", &share_collection, py::arg("session"),
          "share_collection(session) -> None\n\n"
          "On a pytest-xdist worker: hands its collection counts to the controller.");
    m.def("gather_collection", &gather_collection, py::arg("node"),
          "gather_collection(node) -> None\n\n"
          "On the pytest-xdist controller: keeps a finished worker's collection counts for "
          "the run summary.");
}

} // namespace lumox::sender

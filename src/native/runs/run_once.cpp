#include "run_once.hpp"

#include "native/common/pylog.hpp"
#include "native/common/truthy.hpp"

#include <set>
#include <string>

namespace lumox::runs {

namespace {

using py_helpers::to_repr;
using py_helpers::to_str;

constexpr const char *kRanElsewhere = "ran once in ";
constexpr double kPollSeconds = 0.05;
// How long a case waits for a run_once case that no process has taken up yet.
constexpr double kUnclaimedGrace = 10;
// The user property that marks a run_once case's report in a process that did not run it.
constexpr const char *kElsewhereProperty = "lumox_ran_elsewhere";

const py_helpers::Logger &log() { return py_helpers::get_logger("lumox.runs"); }

// What this process knows of the run's run_once cases.
struct OnceState {
    py::object folder;              // the run's meeting folder, None when alone
    bool resolved = false;          // folder worked out
    bool waited = false;            // the run_once cases are done, for the other cases
    std::set<std::string> owned;    // node ids this process claimed
    std::set<std::string> written;  // ... and whose outcome it wrote
    std::set<std::string> taken;    // node ids whose variables were taken
    std::set<std::string> given_up; // node ids waited for in vain
    py::dict before;                // node id -> the run variables before it ran
};

OnceState &state() {
    static auto *once = new OnceState();
    return *once;
}

py::object os() { return py::module_::import("os"); }

// The meeting folder of this run, or None when this process runs alone.
py::object run_folder(py::handle config) {
    OnceState &once = state();
    if (once.resolved) {
        return once.folder;
    }
    once.folder = py::none();
    py::object environ = os().attr("environ");
    py::object share = config.attr("getoption")("lumox_share_dir");
    if (share.is_none()) {
        share = environ.attr("get")("LUMOX_SHARE_DIR");
    }
    py::object run_id = config.attr("getoption")("lumox_run_id");
    if (run_id.is_none()) {
        run_id = environ.attr("get")("LUMOX_RUN_ID");
    }
    const bool worker = py::hasattr(config, "workerinput");
    if ((share.is_none() || to_str(share).empty()) && worker) {
        share = py::module_::import("tempfile").attr("gettempdir")();
        share = os().attr("path").attr("join")(share, "lumox-run-once");
        if (run_id.is_none()) {
            run_id = config.attr("workerinput")["testrunuid"];
        }
    }
    if (share.is_none() || to_str(share).empty()) {
        once.resolved = true;
        return once.folder;
    }
    // The outcomes of an earlier run in the same folder would be taken for this run's.
    if (run_id.is_none() || to_str(run_id).empty()) {
        py::object error = py::module_::import("pytest").attr("UsageError");
        PyErr_SetString(error.ptr(), "--share-dir needs --run-id (or LUMOX_RUN_ID), one for "
                                     "each run, such as the CI pipeline's number and attempt");
        throw py::error_already_set();
    }
    py::object folder =
        py::module_::import("pathlib").attr("Path")(share).attr("joinpath")(to_str(run_id));
    folder.attr("mkdir")(py::arg("parents") = true, py::arg("exist_ok") = true);
    once.folder = folder;
    once.resolved = true;
    return once.folder;
}

std::string key_of(const std::string &nodeid) {
    return to_str(
               py::module_::import("hashlib").attr("sha1")(py::bytes(nodeid)).attr("hexdigest")())
        .substr(0, 20);
}

std::string who() {
    return to_str(py::module_::import("socket").attr("gethostname")()) + " (process " +
           to_str(os().attr("getpid")()) + ")";
}

bool is_once(py::handle item) { return !item.attr("get_closest_marker")("run_once").is_none(); }

// Claims the case: true when this process is the first.
bool claim(py::handle folder, const std::string &nodeid) {
    py::object path = folder.attr("joinpath")(key_of(nodeid) + ".claim");
    try {
        py::object fd = os().attr("open")(path, os().attr("O_CREAT").cast<int>() |
                                                    os().attr("O_EXCL").cast<int>() |
                                                    os().attr("O_WRONLY").cast<int>());
        os().attr("write")(fd, py::str(who() + "\n" + nodeid + "\n").attr("encode")("utf-8"));
        os().attr("close")(fd);
        return true;
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_FileExistsError)) {
            throw;
        }
        return false;
    }
}

double timeout_of(py::handle config) {
    return config.attr("getoption")("lumox_run_once_timeout").cast<double>();
}

// The outcome another process wrote for `nodeid`, waited for up to the time-out; None when
// it did not come. A case nobody has claimed within `unclaimed_grace` seconds may be one
// this very process runs later (a worker given a whole file): then it is not waited for.
py::object wait_for_outcome(py::handle config, py::handle folder, const std::string &nodeid,
                            double unclaimed_grace) {
    OnceState &once = state();
    if (once.given_up.count(nodeid) != 0) {
        return py::none(); // one wait for a case is enough
    }
    py::object path = folder.attr("joinpath")(key_of(nodeid) + ".json");
    py::object claim_path = folder.attr("joinpath")(key_of(nodeid) + ".claim");
    py::object time = py::module_::import("time");
    const double started = time.attr("monotonic")().cast<double>();
    const double deadline = started + timeout_of(config);
    bool said = false;
    while (!path.attr("is_file")().cast<bool>()) {
        const double now = time.attr("monotonic")().cast<double>();
        if (now > deadline ||
            (now > started + unclaimed_grace && !claim_path.attr("exists")().cast<bool>())) {
            once.given_up.insert(nodeid);
            return py::none();
        }
        if (!said) {
            log().info("run_once: waiting for " + nodeid);
            said = true;
        }
        time.attr("sleep")(kPollSeconds);
    }
    return py::module_::import("json").attr("loads")(
        path.attr("read_text")(py::arg("encoding") = "utf-8"));
}

void take_variables(const std::string &nodeid, py::handle outcome) {
    OnceState &once = state();
    if (!once.taken.insert(nodeid).second) {
        return;
    }
    py::dict variables = outcome["variables"];
    if (py::len(variables) > 0) {
        py::module_::import("lumox.templates").attr("add_globals")(**variables);
    }
}

[[noreturn]] void fail_case(const std::string &message) {
    py::module_::import("pytest").attr("fail")(message, py::arg("pytrace") = false);
    throw std::logic_error("pytest.fail returned"); // never reached
}

void wait_for_all(py::handle item, py::handle folder) {
    OnceState &once = state();
    once.waited = true;
    for (py::handle other : item.attr("session").attr("items")) {
        if (!is_once(other)) {
            continue;
        }
        const std::string nodeid = to_str(other.attr("nodeid"));
        if (once.owned.count(nodeid) != 0) {
            continue;
        }
        py::object outcome = wait_for_outcome(item.attr("config"), folder, nodeid, kUnclaimedGrace);
        if (outcome.is_none()) {
            log().warning("run_once: " + nodeid +
                          " did not finish (or no process took it "
                          "up) in time; the cases go on without its variables");
            continue;
        }
        take_variables(nodeid, outcome);
    }
}

} // namespace

void add_once_options(py::handle parser) {
    py::object group = parser.attr("getgroup")("lumox", "lumox");
    group.attr("addoption")("--share-dir", py::arg("dest") = "lumox_share_dir",
                            py::arg("default") = py::none(), py::arg("metavar") = "DIR",
                            py::arg("help") =
                                "a folder every process of the run sees, where run_once cases are "
                                "claimed and their variables left (default: LUMOX_SHARE_DIR)");
    group.attr("addoption")("--run-id", py::arg("dest") = "lumox_run_id",
                            py::arg("default") = py::none(), py::arg("metavar") = "ID",
                            py::arg("help") =
                                "the run the processes share, a folder of --share-dir (default: "
                                "LUMOX_RUN_ID, such as the CI pipeline's number)");
    group.attr("addoption")("--run-once-timeout", py::arg("dest") = "lumox_run_once_timeout",
                            py::arg("type") = py::module_::import("builtins").attr("float"),
                            py::arg("default") = 600.0, py::arg("metavar") = "SECONDS",
                            py::arg("help") =
                                "how long a process waits for a run_once case run by another "
                                "(default 600)");
}

void check_share_folder(py::handle config) { run_folder(config); }

void put_once_first(py::list items) {
    py::list first;
    py::list rest;
    for (py::handle item : items) {
        (is_once(item) ? first : rest).append(item);
    }
    if (py::len(first) == 0) {
        return;
    }
    for (py::handle item : rest) {
        first.append(item);
    }
    items.attr("__setitem__")(py::slice(0, py::len(items), 1), first);
}

void before_case(py::handle item) {
    py::object folder = run_folder(item.attr("config"));
    if (folder.is_none()) {
        return;
    }
    OnceState &once = state();
    const std::string nodeid = to_str(item.attr("nodeid"));
    if (!is_once(item)) {
        if (!once.waited) {
            wait_for_all(item, folder);
        }
        return;
    }
    if (claim(folder, nodeid)) {
        once.owned.insert(nodeid);
        once.before[py::str(nodeid)] =
            py::dict(py::module_::import("builtins")
                         .attr("dict")(py::module_::import("lumox.templates").attr("env_globals")));
        log().info("run_once: " + nodeid + " runs here, " + who());
        return;
    }
    // Claimed by another process: its outcome is worth the whole wait.
    py::object outcome =
        wait_for_outcome(item.attr("config"), folder, nodeid, timeout_of(item.attr("config")));
    if (outcome.is_none()) {
        item.attr("user_properties").attr("append")(py::make_tuple(kElsewhereProperty, "?"));
        fail_case("run_once: " + nodeid +
                  " was claimed by another process, which did not "
                  "finish it within " +
                  to_str(py::float_(timeout_of(item.attr("config")))) + " s (--run-once-timeout)");
    }
    take_variables(nodeid, outcome);
    const std::string by = to_str(outcome["by"]);
    const std::string result = to_str(outcome["outcome"]);
    // Counted once, by the process that ran it.
    item.attr("user_properties").attr("append")(py::make_tuple(kElsewhereProperty, by));
    if (result == "passed" || result == "skipped") {
        py::module_::import("pytest").attr("skip")(kRanElsewhere + by + ": " + result);
    }
    fail_case("run_once: " + nodeid + " failed in " + by + ": " + to_str(outcome["message"]));
}

void after_report(py::handle report) {
    OnceState &once = state();
    const std::string nodeid = to_str(report.attr("nodeid"));
    if (once.owned.count(nodeid) == 0 || once.written.count(nodeid) != 0) {
        return;
    }
    const std::string when = to_str(report.attr("when"));
    const std::string outcome = to_str(report.attr("outcome"));
    if (when != "call" && !(when == "setup" && outcome != "passed")) {
        return;
    }
    once.written.insert(nodeid);
    // What the case saved: the plain run variables it added or changed.
    py::dict before = once.before.attr("get")(py::str(nodeid), py::dict());
    py::dict variables;
    py::object json = py::module_::import("json");
    for (auto [name, value] :
         py::dict(py::module_::import("builtins")
                      .attr("dict")(py::module_::import("lumox.templates").attr("env_globals")))) {
        if (before.contains(name) && before[name].ptr() == value.ptr()) {
            continue;
        }
        try {
            json.attr("dumps")(value);
        } catch (py::error_already_set &error) {
            if (!error.matches(PyExc_Exception)) {
                throw;
            }
            continue; // no value another process can be given
        }
        variables[name] = value;
    }
    std::string message;
    if (outcome != "passed") {
        py::object lines =
            py::str(report.attr("longreprtext")).attr("strip")().attr("splitlines")();
        message = py::len(lines) > 0 ? to_str(lines[py::int_(-1)]) : outcome;
    }
    py::dict written;
    written["nodeid"] = nodeid;
    written["outcome"] = outcome;
    written["by"] = who();
    written["message"] = message;
    written["variables"] = variables;
    py::object folder = state().folder;
    py::object path = folder.attr("joinpath")(key_of(nodeid) + ".json");
    py::object partial =
        folder.attr("joinpath")(key_of(nodeid) + ".json." + to_str(os().attr("getpid")()));
    partial.attr("write_text")(json.attr("dumps")(written, py::arg("ensure_ascii") = false),
                               py::arg("encoding") = "utf-8");
    os().attr("replace")(partial, path); // whole or not at all, for the waiting processes
    log().info("run_once: " + nodeid + " " + outcome + "; " + std::to_string(py::len(variables)) +
               " variable(s) left for the others");
}

bool ran_elsewhere(py::handle report) {
    for (py::handle property : py::getattr(report, "user_properties", py::list())) {
        if (PyTuple_Check(property.ptr()) && py::len(property) == 2 &&
            to_str(py::tuple(py::reinterpret_borrow<py::object>(property))[0]) ==
                kElsewhereProperty) {
            return true;
        }
    }
    return false;
}

} // namespace lumox::runs

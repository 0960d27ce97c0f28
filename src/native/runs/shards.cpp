#include "shards.hpp"

#include "native/common/pylog.hpp"
#include "native/common/truthy.hpp"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace lumox::runs {

namespace {

using py_helpers::to_repr;
using py_helpers::to_str;

constexpr const char *kDefaultDurationsFile = ".lumox-durations.json";

// Seconds each case took in this run, by node id (all phases).
py::dict &run_durations() {
    static auto *durations = new py::dict();
    return *durations;
}

[[noreturn]] void usage_error(const std::string &message) {
    py::object error = py::module_::import("pytest").attr("UsageError");
    PyErr_SetString(error.ptr(), message.c_str());
    throw py::error_already_set();
}

// K and N of "K/N", 1 <= K <= N.
std::pair<long, long> parse_shard(const std::string &text) {
    const auto slash = text.find('/');
    long part = 0;
    long parts = 0;
    try {
        if (slash == std::string::npos) {
            throw std::invalid_argument(text);
        }
        std::size_t used = 0;
        part = std::stol(text.substr(0, slash), &used);
        const bool whole_part = used == slash;
        parts = std::stol(text.substr(slash + 1), &used);
        if (!whole_part || used != text.size() - slash - 1) {
            throw std::invalid_argument(text);
        }
    } catch (const std::logic_error &) {
        usage_error("--shard " + text + ": give the part and the number of parts, such as 2/4");
    }
    if (parts < 1 || part < 1 || part > parts) {
        usage_error("--shard " + text + ": the part must be from 1 to the number of parts (" +
                    std::to_string(parts) + ")");
    }
    return {part, parts};
}

py::object durations_path(py::handle config) {
    py::object given = config.attr("getoption")("lumox_durations_file");
    py::object path = py::module_::import("pathlib").attr("Path");
    if (!given.is_none()) {
        return path(given);
    }
    return config.attr("rootpath").attr("joinpath")(kDefaultDurationsFile);
}

// The durations file's {node id: seconds}; an empty mapping when there is none.
py::dict read_durations(py::handle config) {
    py::object path = durations_path(config);
    if (!path.attr("is_file")().cast<bool>()) {
        return py::dict();
    }
    py::object loaded;
    try {
        loaded = py::module_::import("json").attr("loads")(
            path.attr("read_text")(py::arg("encoding") = "utf-8"));
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) {
            throw;
        }
        usage_error("the durations file " + to_str(path) + " is no JSON: " + to_str(error.value()) +
                    " (delete it; --store-durations writes it anew)");
    }
    if (!PyDict_Check(loaded.ptr())) {
        usage_error("the durations file " + to_str(path) +
                    " must map test ids to seconds (delete it; --store-durations writes it anew)");
    }
    return loaded;
}

bool has_mark(py::handle item, const char *name) {
    return !item.attr("get_closest_marker")(name).is_none();
}

// The name of the unit a case goes with: its shard_group, else its file.
std::string unit_of(py::handle item) {
    py::object group = item.attr("get_closest_marker")("shard_group");
    if (!group.is_none() && py::len(group.attr("args")) > 0) {
        return "group " + to_str(group.attr("args")[py::int_(0)]);
    }
    return "file " + to_str(item.attr("nodeid")).substr(0, to_str(item.attr("nodeid")).find("::"));
}

struct Unit {
    std::string name;
    std::vector<py::object> items;
    double seconds = 0;
};

} // namespace

void add_shard_options(py::handle parser) {
    py::object group = parser.attr("getgroup")("lumox", "lumox");
    group.attr("addoption")("--shard", py::arg("dest") = "lumox_shard",
                            py::arg("default") = py::none(), py::arg("metavar") = "K/N",
                            py::arg("help") =
                                "run the K-th of N parts of the cases (the same parts on every "
                                "machine; cases of one file stay together)");
    group.attr("addoption")("--durations-file", py::arg("dest") = "lumox_durations_file",
                            py::arg("default") = py::none(), py::arg("metavar") = "PATH",
                            py::arg("help") =
                                "durations of earlier runs, to balance the shards by time "
                                "(default: .lumox-durations.json in the rootdir)");
    group.attr("addoption")("--store-durations", py::arg("dest") = "lumox_store_durations",
                            py::arg("action") = "store_true",
                            py::arg("help") = "write this run's durations into the durations file");
}

void select_shard(py::handle config, py::list items) {
    py::object shard = config.attr("getoption")("lumox_shard");
    if (shard.is_none()) {
        return;
    }
    const auto [part, parts] = parse_shard(to_str(shard));
    const py::dict durations = read_durations(config);
    double known = 0;
    std::size_t known_count = 0;
    for (py::handle item : items) {
        py::object seconds = durations.attr("get")(item.attr("nodeid"));
        if (PyFloat_Check(seconds.ptr()) || PyLong_Check(seconds.ptr())) {
            known += seconds.cast<double>();
            ++known_count;
        }
    }
    // A case never timed counts as an average one.
    const double typical = known_count == 0 ? 1.0 : known / static_cast<double>(known_count);
    std::vector<Unit> units;
    std::map<std::string, std::size_t> unit_index;
    std::vector<py::object> everywhere;
    for (py::handle handle : items) {
        py::object item = py::reinterpret_borrow<py::object>(handle);
        if (has_mark(item, "run_once")) {
            everywhere.push_back(item);
            continue;
        }
        const std::string name = unit_of(item);
        auto [at, added] = unit_index.emplace(name, units.size());
        if (added) {
            units.push_back(Unit{name, {}, 0});
        }
        py::object seconds = durations.attr("get")(item.attr("nodeid"));
        units[at->second].items.push_back(item);
        units[at->second].seconds += PyFloat_Check(seconds.ptr()) || PyLong_Check(seconds.ptr())
                                         ? seconds.cast<double>()
                                         : typical;
    }
    // The longest first, each to the part with the least so far: the same on every machine.
    std::vector<std::size_t> order(units.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (units[a].seconds != units[b].seconds) {
            return units[a].seconds > units[b].seconds;
        }
        return units[a].name < units[b].name;
    });
    std::vector<double> load(static_cast<std::size_t>(parts), 0.0);
    std::vector<long> part_of(units.size(), 0);
    for (std::size_t index : order) {
        const auto least = std::min_element(load.begin(), load.end()) - load.begin();
        load[static_cast<std::size_t>(least)] += units[index].seconds;
        part_of[index] = static_cast<long>(least) + 1;
    }
    py::list kept;
    py::list deselected;
    std::size_t kept_cases = 0;
    for (py::handle handle : items) {
        py::object item = py::reinterpret_borrow<py::object>(handle);
        bool keep = has_mark(item, "run_once");
        if (!keep) {
            keep = part_of[unit_index[unit_of(item)]] == part;
        }
        (keep ? kept : deselected).append(item);
        kept_cases += keep ? 1 : 0;
    }
    items.attr("__setitem__")(py::slice(0, py::len(items), 1), kept);
    if (py::len(deselected) > 0) {
        config.attr("hook").attr("pytest_deselected")(py::arg("items") = deselected);
    }
    double total = 0;
    for (double seconds : load) {
        total += seconds;
    }
    char estimate[64];
    std::snprintf(estimate, sizeof estimate, "%.1f s of %.1f s",
                  load[static_cast<std::size_t>(part - 1)], total);
    const std::string line =
        "lumox shard " + std::to_string(part) + "/" + std::to_string(parts) + ": " +
        std::to_string(kept_cases) + " of " + std::to_string(kept_cases + py::len(deselected)) +
        " cases" +
        (known_count == 0 ? std::string(" (no durations yet: by count)")
                          : ", about " + std::string(estimate) + " by earlier durations") +
        (everywhere.empty()
             ? ""
             : "; " + std::to_string(everywhere.size()) + " run_once case(s) in every part");
    py_helpers::get_logger("lumox.runs").info(line);
    py::object reporter = config.attr("pluginmanager").attr("get_plugin")("terminalreporter");
    if (!reporter.is_none() && !py::hasattr(config, "workerinput")) {
        reporter.attr("write_line")(line);
    }
}

void record_duration(py::handle report) {
    py::object nodeid = report.attr("nodeid");
    py::dict &durations = run_durations();
    const double seconds = report.attr("duration").cast<double>();
    durations[nodeid] =
        (durations.contains(nodeid) ? durations[nodeid].cast<double>() : 0.0) + seconds;
}

void store_durations(py::handle config) {
    if (!py_helpers::truthy(config.attr("getoption")("lumox_store_durations")) ||
        py::hasattr(config, "workerinput") || run_durations().empty()) {
        return;
    }
    // Shards of one run may store into one file at once: one after the other, each adding
    // its cases to what the file holds, and the file replaced whole.
    py::object path = durations_path(config);
    py::object os = py::module_::import("os");
    py::object lock = os.attr("open")(to_str(path) + ".lock", os.attr("O_CREAT").cast<int>() |
                                                                  os.attr("O_WRONLY").cast<int>());
    try {
        py::object fcntl = py::module_::import("fcntl");
        fcntl.attr("flock")(lock, fcntl.attr("LOCK_EX"));
        py::dict merged = read_durations(config);
        for (auto [nodeid, seconds] : run_durations()) {
            merged[nodeid] = py::module_::import("builtins").attr("round")(seconds, 4);
        }
        py::object partial = py::module_::import("pathlib").attr("Path")(
            to_str(path) + "." + to_str(os.attr("getpid")()));
        partial.attr("write_text")(py::module_::import("json").attr("dumps")(
                                       merged, py::arg("indent") = 1, py::arg("sort_keys") = true,
                                       py::arg("ensure_ascii") = false),
                                   py::arg("encoding") = "utf-8");
        os.attr("replace")(partial, path);
    } catch (py::error_already_set &) {
        os.attr("close")(lock);
        throw;
    }
    os.attr("close")(lock);
    py_helpers::get_logger("lumox.runs")
        .info("durations of " + std::to_string(py::len(run_durations())) + " case(s) written to " +
              to_str(path));
}

} // namespace lumox::runs

#include "results.hpp"

#include "core/notice_text.hpp"
#include "native/common/pylog.hpp"

#include <algorithm>
#include <string>

namespace lumox::runs {

namespace {

using py_helpers::to_repr;
using py_helpers::to_str;

py::object path_of(py::handle text) { return py::module_::import("pathlib").attr("Path")(text); }

py::dict read_summary(py::handle folder) {
    py::object path = path_of(folder).attr("joinpath")(kSummaryFile);
    if (!path_of(folder).attr("is_dir")().cast<bool>()) {
        throw py::value_error(to_str(folder) + " is no results folder");
    }
    if (!path.attr("is_file")().cast<bool>()) {
        throw py::value_error(to_str(folder) + " has no " + kSummaryFile +
                              ": it is written at the end of a run with --alluredir");
    }
    py::object loaded = py::module_::import("json").attr("loads")(
        path.attr("read_text")(py::arg("encoding") = "utf-8"));
    if (!PyDict_Check(loaded.ptr())) {
        throw py::value_error(to_str(path) + " is no summary of a run");
    }
    return loaded;
}

double number_in(py::dict summary, const char *key) {
    py::object value = summary.attr("get")(key, 0);
    return PyFloat_Check(value.ptr()) || PyLong_Check(value.ptr()) ? value.cast<double>() : 0.0;
}

} // namespace

py::dict summed_summaries(py::list summaries) {
    py::dict sum;
    long long total = 0;
    double started = 0;
    double finished = 0;
    py::list failed_cases;
    for (const char *key : {"select", "passed", "failed", "error", "skipped"}) {
        sum[key] = 0;
    }
    bool first = true;
    for (py::handle handle : summaries) {
        py::dict summary = py::reinterpret_borrow<py::dict>(handle);
        total = std::max(total, static_cast<long long>(number_in(summary, "total")));
        for (const char *key : {"select", "passed", "failed", "error", "skipped"}) {
            sum[key] = sum[key].cast<long long>() + static_cast<long long>(number_in(summary, key));
        }
        for (py::handle name : summary.attr("get")("failed_cases", py::list())) {
            failed_cases.append(name);
        }
        const double start = number_in(summary, "started");
        const double end = number_in(summary, "finished");
        started = first ? start : std::min(started, start);
        finished = first ? end : std::max(finished, end);
        first = false;
    }
    sum["total"] = total;
    sum["failed_cases"] =
        py::list(py::module_::import("builtins").attr("dict").attr("fromkeys")(failed_cases));
    sum["started"] = started;
    sum["finished"] = finished;
    sum["tims"] = core::duration_text(std::max(0.0, finished - started));
    sum["date"] = py::module_::import("time").attr("strftime")(
        "%Y-%m-%d %H:%M:%S", py::module_::import("time").attr("localtime")(finished));
    sum["runs"] = py::len(summaries);
    return sum;
}

py::dict merge_results(py::list sources, py::object into) {
    py::object target = path_of(into);
    py::list summaries;
    for (py::handle source : sources) {
        summaries.append(read_summary(source));
    }
    target.attr("mkdir")(py::arg("parents") = true, py::arg("exist_ok") = true);
    py::object shutil = py::module_::import("shutil");
    std::size_t copied = 0;
    for (py::handle source : sources) {
        if (path_of(source).attr("resolve")().equal(target.attr("resolve")())) {
            throw py::value_error("the merged folder " + to_str(into) +
                                  " is one of the folders "
                                  "to merge");
        }
        for (py::handle file :
             py::module_::import("builtins").attr("sorted")(path_of(source).attr("iterdir")())) {
            const std::string name = to_str(file.attr("name"));
            if (name == kSummaryFile || !file.attr("is_file")().cast<bool>()) {
                continue;
            }
            py::object copy = target.attr("joinpath")(name);
            if (copy.attr("exists")().cast<bool>()) {
                if (!copy.attr("read_bytes")().equal(file.attr("read_bytes")())) {
                    py_helpers::get_logger("lumox.runs")
                        .warning("merge: " + name + " differs between the folders; the one of " +
                                 to_str(copy.attr("parent")) + " is kept");
                }
                continue;
            }
            shutil.attr("copy2")(file, copy);
            ++copied;
        }
    }
    py::dict sum = summed_summaries(summaries);
    target.attr("joinpath")(kSummaryFile)
        .attr("write_text")(py::module_::import("json").attr("dumps")(
                                sum, py::arg("ensure_ascii") = false, py::arg("indent") = 1),
                            py::arg("encoding") = "utf-8");
    sum["copied"] = copied;
    return sum;
}

py::dict notify_results(py::list sources) {
    py::list summaries;
    for (py::handle source : sources) {
        summaries.append(read_summary(source));
    }
    py::dict sum = summed_summaries(summaries);
    py::module_::import("lumox.sender").attr("send_result")(sum);
    return sum;
}

} // namespace lumox::runs

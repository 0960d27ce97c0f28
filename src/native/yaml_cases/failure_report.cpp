#include "failure_report.hpp"

#include "native/common/case_report.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/secrets.hpp"

#include <string>

namespace lumox::yaml_cases {

namespace {

using lumox::py_helpers::define_case_report_class;
using lumox::py_helpers::error_line;
using lumox::py_helpers::make_case_report;
using lumox::py_helpers::make_class;
using lumox::py_helpers::ReportLines;

constexpr int step_text_width = 100;

// Classes of this file, created once with the module and kept for the process.
struct ReportClasses {
    py::object failure;     // YamlCaseFailure
    py::object step_dumper; // yaml.SafeDumper that writes unknown objects as their repr
};

ReportClasses *report_classes = nullptr;

// The step as YAML text, as the tester wrote it. A step may hold objects YAML cannot
// express (a hook opens upload files in place); those appear as their repr.
py::object represent_as_repr(py::object dumper, py::object value) {
    return dumper.attr("represent_str")(py::repr(value));
}

// The dumper is made with the first report: runs without failures never need PyYAML's.
py::object step_dumper() {
    if (!report_classes->step_dumper) {
        py::object safe_dumper = py::module_::import("yaml").attr("SafeDumper");
        py::module_ module = py::module_::import("lumox.yaml_cases");
        report_classes->step_dumper =
            make_class(module, "_StepDumper", py::make_tuple(safe_dumper), py::dict());
        report_classes->step_dumper.attr("add_multi_representer")(
            py::module_::import("builtins").attr("object"), py::cpp_function(&represent_as_repr));
    }
    return report_classes->step_dumper;
}

// The step's repr down to a few levels, for a step nested too deeply for PyYAML (whose
// representer recurses once per level) or for repr itself: the report must not fail.
std::string shallow_repr(py::handle step) {
    py::object shallow = py::module_::import("reprlib").attr("Repr")();
    shallow.attr("maxlevel") = 12;
    for (const char *size : {"maxlist", "maxtuple", "maxdict", "maxset"}) {
        shallow.attr(size) = 100;
    }
    for (const char *size : {"maxstring", "maxother"}) {
        shallow.attr(size) = 1000;
    }
    return py::str(shallow.attr("repr")(step)).cast<std::string>();
}

std::string step_as_yaml(py::handle step) {
    py::module_ yaml = py::module_::import("yaml");
    try {
        py::object text = yaml.attr("dump")(
            step, py::arg("Dumper") = step_dumper(), py::arg("allow_unicode") = true,
            py::arg("sort_keys") = false, py::arg("default_flow_style") = false,
            py::arg("width") = step_text_width);
        std::string out = py::str(text).cast<std::string>();
        while (!out.empty() && out.back() == '\n') {
            out.pop_back();
        }
        return out;
    } catch (py::error_already_set &error) {
        if (error.matches(yaml.attr("YAMLError").ptr())) {
            return py::repr(step).cast<std::string>();
        }
        if (error.matches(PyExc_RecursionError)) {
            return shallow_repr(step) + "\n(nested too deeply to show in full)";
        }
        throw;
    }
}

} // namespace

void define_failure_report(py::module_ &module) {
    report_classes = new ReportClasses();

    report_classes->failure = define_case_report_class(
        module, "YamlCaseFailure",
        "The report of a failed YAML case step (lines, and reprcrash for summaries).");
}

py::object failure_report(py::handle item, py::handle excinfo, const StepFailure &failure) {
    std::string name = py::repr(item.attr("name")).cast<std::string>();
    std::string index = std::to_string(failure.index);
    std::string total = std::to_string(py::len(item.attr("steps")));
    py::tuple location = item.attr("location");
    std::string file = py::str(location[0]).cast<std::string>();
    py::object line0 = location[1];

    std::string where = file;
    if (!line0.is_none()) {
        where += ", line " + std::to_string(line0.cast<py::ssize_t>() + 1);
    }
    ReportLines lines;
    lines.add("YAML case " + name + " failed at step " + index + " of " + total + " (" + where +
              ")");
    if (!failure.data.is_none()) {
        lines.add(py::str(failure.data).cast<std::string>());
    }
    std::string label = "step " + index;
    if (!failure.trail.is_none()) {
        for (py::handle call : failure.trail) {
            lines.add(py::str(call).cast<std::string>());
        }
        label = failure.label;
    }
    lines.add(failure.rendered ? label + " as rendered:"
                               : label + " as written (rendering it failed):");
    lines.add(step_as_yaml(lumox::py_helpers::masked_step(failure.step)), "    ");
    lines.add("");
    lines.add(error_line(failure.error), "", true);
    for (const std::string &note : lumox::py_helpers::error_notes(failure.error)) {
        lines.add(note, "", true);
    }
    return make_case_report(report_classes->failure, item, excinfo, lines,
                            line0.is_none() ? py::object(py::none())
                                            : py::object(py::int_(line0.cast<py::ssize_t>() + 1)),
                            lumox::py_helpers::summary_line(failure.error));
}

} // namespace lumox::yaml_cases

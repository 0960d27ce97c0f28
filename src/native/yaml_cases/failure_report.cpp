#include "failure_report.hpp"

#include "native/common/pyclass.hpp"

#include <string>
#include <utility>
#include <vector>

namespace lumox::yaml_cases {

namespace {

using lumox::py_helpers::make_class;
using lumox::py_helpers::method;

constexpr int step_text_width = 100;

// Classes of this file, created once with the module and kept for the process.
struct ReportClasses {
    py::object failure;     // YamlCaseFailure
    py::object step_dumper; // yaml.SafeDumper that writes unknown objects as their repr
};

ReportClasses *report_classes = nullptr;

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (true) {
        auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 1;
    }
}

// The step as YAML text, as the tester wrote it. A step may hold objects YAML cannot
// express (a hook opens upload files in place); those appear as their repr.
std::string step_as_yaml(py::handle step) {
    py::module_ yaml = py::module_::import("yaml");
    try {
        py::object text = yaml.attr("dump")(
            step, py::arg("Dumper") = report_classes->step_dumper, py::arg("allow_unicode") = true,
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
        throw;
    }
}

void add_text(py::list &lines, const std::string &text, const std::string &indent, bool error) {
    for (const std::string &line : split_lines(text)) {
        lines.append(py::make_tuple(indent + line, error));
    }
}

void write_to_terminal(py::object self, py::object writer) {
    for (py::handle entry : self.attr("lines")) {
        py::tuple line = py::reinterpret_borrow<py::tuple>(entry);
        if (line[1].cast<bool>()) {
            writer.attr("line")(line[0], py::arg("red") = true, py::arg("bold") = true);
        } else {
            writer.attr("line")(line[0]);
        }
    }
}

py::str as_text(py::object self) {
    std::string text;
    for (py::handle entry : self.attr("lines")) {
        text += (text.empty() ? "" : "\n") +
                py::str(py::reinterpret_borrow<py::tuple>(entry)[0]).cast<std::string>();
    }
    return py::str(text);
}

py::object represent_as_repr(py::object dumper, py::object value) {
    return dumper.attr("represent_str")(py::repr(value));
}

} // namespace

std::string error_line(py::handle error) {
    py::handle type = py::type::of(error);
    std::string module = py::str(type.attr("__module__")).cast<std::string>();
    std::string name = py::str(type.attr("__qualname__")).cast<std::string>();
    // Builtins and pytest's own outcomes read best bare; library errors keep their module
    // (httpx.ConnectError, lumox.templates.TemplateError).
    if (module != "builtins" && !module.empty() && module[0] != '_') {
        name = module + "." + name;
    }
    std::string message = py::str(error).cast<std::string>();
    return message.empty() ? name : name + ": " + message;
}

void define_failure_report(py::module_ &module) {
    report_classes = new ReportClasses();

    py::dict ns;
    ns["toterminal"] = method(&write_to_terminal, "toterminal", py::arg("self"), py::arg("tw"));
    ns["__str__"] = method(&as_text, "__str__", py::arg("self"));
    report_classes->failure = make_class(
        module, "YamlCaseFailure", py::make_tuple(py::module_::import("builtins").attr("object")),
        ns, "The report of a failed YAML case step (lines, and reprcrash for summaries).");

    py::object safe_dumper = py::module_::import("yaml").attr("SafeDumper");
    report_classes->step_dumper =
        make_class(module, "_StepDumper", py::make_tuple(safe_dumper), py::dict());
    report_classes->step_dumper.attr("add_multi_representer")(
        py::module_::import("builtins").attr("object"), py::cpp_function(&represent_as_repr));
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
    py::list lines;
    add_text(lines,
             "YAML case " + name + " failed at step " + index + " of " + total + " (" + where + ")",
             "", false);
    add_text(lines,
             failure.rendered ? "step " + index + " as rendered:"
                              : "step " + index + " as written (rendering it failed):",
             "", false);
    add_text(lines, step_as_yaml(failure.step), "    ", false);
    add_text(lines, "", "", false);
    std::string error = error_line(failure.error);
    add_text(lines, error, "", true);

    if (py::bool_(item.attr("config").attr("getoption")("fulltrace", false))) {
        py::object full =
            py::module_::import("pytest").attr("Function").attr("repr_failure")(item, excinfo);
        add_text(lines, "", "", false);
        add_text(lines, py::str(full).cast<std::string>(), "", false);
    }

    py::object report = report_classes->failure();
    report.attr("lines") = lines;
    py::object crash = py::module_::import("types").attr("SimpleNamespace")(
        py::arg("path") = py::str(item.attr("path")),
        py::arg("lineno") = line0.is_none() ? py::object(py::none())
                                            : py::object(py::int_(line0.cast<py::ssize_t>() + 1)),
        py::arg("message") = error);
    report.attr("reprcrash") = crash;
    return report;
}

} // namespace lumox::yaml_cases

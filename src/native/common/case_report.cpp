#include "case_report.hpp"

#include "pyclass.hpp"

#include <string>
#include <vector>

namespace lumox::py_helpers {

namespace {

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
    // A WebDriver error carries the driver's native stack ("Stacktrace:\n#0 0x55d… <unknown>"),
    // a dozen lines that say nothing to a tester; the message before it does.
    if (const std::size_t stack = message.find("\nStacktrace:\n"); stack != std::string::npos) {
        message.erase(stack);
    }
    return message.empty() ? name : name + ": " + message;
}

std::string summary_line(py::handle error) {
    const std::string line = error_line(error);
    if (!py::str(error).cast<std::string>().empty()) {
        return line;
    }
    const std::vector<std::string> notes = error_notes(error);
    return notes.empty() ? line : line + ": " + notes.front();
}

std::vector<std::string> error_notes(py::handle error) {
    std::vector<std::string> notes;
    py::object found = py::getattr(error, "__notes__", py::none());
    if (py::isinstance<py::list>(found) || py::isinstance<py::tuple>(found)) {
        for (py::handle note : found) {
            notes.push_back(py::str(note).cast<std::string>());
        }
    }
    return notes;
}

void ReportLines::add(const std::string &text, const std::string &indent, bool error) {
    for (const std::string &line : split_lines(text)) {
        lines_.append(py::make_tuple(indent + line, error));
    }
}

py::object define_case_report_class(py::module_ &module, const char *name, const char *doc) {
    py::dict ns;
    ns["toterminal"] = method(&write_to_terminal, "toterminal", py::arg("self"), py::arg("tw"));
    ns["__str__"] = method(&as_text, "__str__", py::arg("self"));
    return make_class(module, name, py::make_tuple(py::module_::import("builtins").attr("object")),
                      ns, doc);
}

py::object make_case_report(py::handle report_class, py::handle item, py::handle excinfo,
                            const ReportLines &lines, py::object lineno,
                            const std::string &crash_message) {
    ReportLines trace;
    if (py::bool_(item.attr("config").attr("getoption")("fulltrace", false))) {
        py::object full =
            py::module_::import("pytest").attr("Function").attr("repr_failure")(item, excinfo);
        trace.add("");
        trace.add(py::str(full).cast<std::string>());
    }
    py::object report = report_class();
    report.attr("lines") = lines.lines() + trace.lines(); // a new list
    report.attr("reprcrash") = py::module_::import("types").attr("SimpleNamespace")(
        py::arg("path") = py::str(item.attr("path")), py::arg("lineno") = lineno,
        py::arg("message") = crash_message);
    return report;
}

} // namespace lumox::py_helpers

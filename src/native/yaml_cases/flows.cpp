#include "flows.hpp"

#include "core/suggestions.hpp"
#include "native/common/case_report.hpp"
#include "native/common/pylog.hpp"

#include <algorithm>
#include <map>
#include <memory>

namespace lumox::yaml_cases {

namespace {

using lumox::py_helpers::to_repr;
using lumox::py_helpers::to_str;

constexpr const char *flow_file_names[] = {"flows.yaml", "flows.yml"};

struct FlowFile {
    std::map<std::string, Flow> flows;
    std::vector<std::string> names; // in the order written
    std::string problem;            // what is wrong with the file, empty when sound
};

// Flows files are read once for the process (every case below a folder shares its file),
// and again when they change.
std::map<std::string, std::unique_ptr<FlowFile>> &flow_files() {
    static auto *files = new std::map<std::string, std::unique_ptr<FlowFile>>();
    return *files;
}

std::string shown_path(py::handle path, py::handle rootdir) {
    try {
        return to_str(path.attr("relative_to")(rootdir));
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) {
            throw;
        }
        return to_str(path);
    }
}

void read_flow(FlowFile &file, py::handle path, py::handle name, py::handle value,
               const StepChecks &checks, const std::string &shown,
               std::vector<std::string> &problems) {
    const std::string where = shown + ", flow " + to_repr(name);
    if (!PyUnicode_Check(name.ptr()) || lumox::py_helpers::to_str(name).empty()) {
        problems.push_back(shown + ": a flow's name must be text, got " + to_repr(name));
        return;
    }
    if (!PyDict_Check(value.ptr())) {
        problems.push_back(where + ": a flow must be a mapping with steps and, if it takes "
                                   "any, params");
        return;
    }
    py::dict written = py::reinterpret_borrow<py::dict>(value);
    Flow flow{to_str(name), shown, py::reinterpret_borrow<py::object>(path),
              py::list(),   {},    py::dict()};
    for (auto [key, part] : written) {
        const std::string section = to_str(key);
        if (section == "steps") {
            flow.steps = check_steps(part, checks, problems, where);
        } else if (section == "params") {
            if (PyList_Check(part.ptr())) {
                for (py::handle param : part) {
                    flow.params.push_back(to_str(param));
                }
            } else if (PyDict_Check(part.ptr())) {
                for (auto [param, fallback] : py::reinterpret_borrow<py::dict>(part)) {
                    flow.params.push_back(to_str(param));
                    if (!fallback.is_none()) {
                        flow.defaults[param] = fallback;
                    }
                }
            } else if (!part.is_none()) {
                problems.push_back(where + ": params must be a mapping of parameter names to "
                                           "their default (no value: the call must give it)");
            }
        } else {
            problems.push_back(where + ": unknown key " + to_repr(key) +
                               " (a flow has steps and params)");
        }
    }
    if (!written.contains("steps")) {
        problems.push_back(where + ": steps is missing");
    }
    for (const std::string &param : flow.params) {
        if (!py::str(param).attr("isidentifier")().cast<bool>()) {
            problems.push_back(where + ": the parameter " + to_repr(py::str(param)) +
                               " is no name a template can use (letters, digits and _)");
        }
    }
    file.names.push_back(flow.name);
    file.flows.emplace(flow.name, std::move(flow));
}

FlowFile &load_flow_file(py::handle path, py::handle rootdir, const StepChecks &checks) {
    // A file changed since (a run in the same process, an editor's) is read again.
    py::object stat = path.attr("stat")();
    const std::string key = to_str(path) + "\n" + to_str(stat.attr("st_mtime_ns")) + "\n" +
                            to_str(stat.attr("st_size"));
    auto found = flow_files().find(key);
    if (found != flow_files().end()) {
        return *found->second;
    }
    auto file = std::make_unique<FlowFile>();
    const std::string shown = shown_path(path, rootdir);
    std::vector<std::string> problems;
    try {
        py::object text = path.attr("read_text")(py::arg("encoding") = "utf-8-sig");
        py::object flows = py::module_::import("yaml").attr("safe_load")(text);
        if (flows.is_none()) {
            flows = py::dict();
        }
        if (!PyDict_Check(flows.ptr())) {
            problems.push_back(shown + ": a flows file is a mapping of flow names to flows");
        } else {
            for (auto [name, value] : py::reinterpret_borrow<py::dict>(flows)) {
                read_flow(*file, path, name, value, checks, shown, problems);
            }
        }
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        problems.push_back(shown +
                           ": cannot be read: " + lumox::py_helpers::error_line(error.value()));
    }
    for (const std::string &problem : problems) {
        file->problem += (file->problem.empty() ? "" : "\n") + problem;
    }
    return *flow_files().emplace(key, std::move(file)).first->second;
}

// The flows files a case of `case_file` sees, the nearest first.
std::vector<py::object> flow_file_paths(py::handle case_file, py::handle rootdir) {
    std::vector<py::object> paths;
    py::object folder = py::module_::import("pathlib").attr("Path")(case_file).attr("parent");
    py::object root = py::module_::import("pathlib").attr("Path")(rootdir);
    while (true) {
        for (const char *name : flow_file_names) {
            py::object path = folder.attr("joinpath")(name);
            if (path.attr("is_file")().cast<bool>()) {
                paths.push_back(path);
            }
        }
        py::object parent = folder.attr("parent");
        if (folder.equal(root) || parent.equal(folder) ||
            !folder.attr("is_relative_to")(root).cast<bool>()) {
            break;
        }
        folder = parent;
    }
    return paths;
}

std::string joined(const std::vector<std::string> &names, const char *separator) {
    std::string text;
    for (const std::string &name : names) {
        text += (text.empty() ? "" : separator) + name;
    }
    return text;
}

// `calling_where` names the case's own step that the calls started from.
void check_use(py::dict step, py::handle case_file, py::handle rootdir, const StepChecks &checks,
               std::vector<std::string> &calling, std::vector<std::string> &problems,
               const std::string &where, const std::string &calling_where) {
    for (auto [key, value] : step) {
        const std::string name = to_str(key);
        if (name == "retry" && PyDict_Check(value.ptr()) &&
            py::reinterpret_borrow<py::dict>(value).contains("until")) {
            problems.push_back(where + ": a retry of a flow runs it again until its own checks "
                                       "pass; until checks one response and belongs to a step "
                                       "with a request");
        } else if (name != "use" && name != "with" && name != "retry") {
            problems.push_back(where +
                               ": a step with use runs the flow's steps and takes only "
                               "with and retry, not " +
                               to_repr(key));
        }
    }
    py::object use = step["use"];
    if (!PyUnicode_Check(use.ptr()) || to_str(use).find("{{") != std::string::npos ||
        to_str(use).empty()) {
        problems.push_back(where + ": use must be the name of a flow, not " + to_repr(use));
        return;
    }
    const std::string name = to_str(use);
    std::string problem;
    const Flow *flow = find_flow(case_file, rootdir, name, checks, problem);
    if (flow == nullptr) {
        problems.push_back(where + ": " + problem);
        return;
    }
    py::object given = step.contains("with") ? py::object(step["with"]) : py::object(py::dict());
    if (!PyDict_Check(given.ptr())) {
        problems.push_back(where + ": with must be a mapping of the flow's parameters to values");
        return;
    }
    for (auto [param, value] : py::reinterpret_borrow<py::dict>(given)) {
        const std::string param_name = to_str(param);
        if (std::find(flow->params.begin(), flow->params.end(), param_name) == flow->params.end()) {
            const std::string hint =
                lumox::core::did_you_mean(lumox::core::closest_names(param_name, flow->params));
            problems.push_back(where + ": flow " + to_repr(use) + " has no parameter " +
                               to_repr(param) + " (its parameters: " +
                               (flow->params.empty() ? "none" : joined(flow->params, ", ")) + ")" +
                               (hint.empty() ? "" : ", " + hint));
        }
    }
    for (const std::string &param : flow->params) {
        if (!flow->defaults.contains(param) && !given.contains(py::str(param))) {
            problems.push_back(where + ": flow " + to_repr(use) + " needs " +
                               to_repr(py::str(param)) + " in with (it has no default)");
        }
    }
    if (std::find(calling.begin(), calling.end(), name) != calling.end()) {
        std::vector<std::string> trail(std::find(calling.begin(), calling.end(), name),
                                       calling.end());
        trail.push_back(name);
        problems.push_back(calling_where + ": flow " + to_repr(use) + " calls itself (" +
                           joined(trail, " -> ") + ", at " + where + ")");
        return;
    }
    calling.push_back(name);
    check_uses(flow->steps, flow->path, rootdir, checks, calling, problems,
               flow->file + ", flow " + to_repr(use), calling_where);
    calling.pop_back();
}

} // namespace

const Flow *find_flow(py::handle case_file, py::handle rootdir, const std::string &name,
                      const StepChecks &checks, std::string &problem) {
    std::vector<std::string> visible;
    for (const py::object &path : flow_file_paths(case_file, rootdir)) {
        FlowFile &file = load_flow_file(path, rootdir, checks);
        if (!file.problem.empty()) {
            problem = "flow " + to_repr(py::str(name)) +
                      " cannot be used, its flows file is "
                      "broken:\n" +
                      file.problem;
            return nullptr;
        }
        auto found = file.flows.find(name);
        if (found != file.flows.end()) {
            return &found->second;
        }
        visible.insert(visible.end(), file.names.begin(), file.names.end());
    }
    if (visible.empty()) {
        problem = "no flow " + to_repr(py::str(name)) +
                  ": there is no flows.yaml in the case's folder or above it";
    } else {
        const std::string hint =
            lumox::core::did_you_mean(lumox::core::closest_names(name, visible));
        problem = "no flow " + to_repr(py::str(name)) + " (flows: " + joined(visible, ", ") + ")" +
                  (hint.empty() ? "" : ", " + hint);
    }
    return nullptr;
}

void check_uses(py::handle steps, py::handle case_file, py::handle rootdir,
                const StepChecks &checks, std::vector<std::string> &calling,
                std::vector<std::string> &problems, const std::string &where,
                const std::string &calling_where) {
    std::size_t number = 0;
    for (py::handle step : steps) {
        ++number;
        if (!PyDict_Check(step.ptr())) {
            continue;
        }
        py::dict mapping = py::reinterpret_borrow<py::dict>(step);
        const std::string step_where = where + ", step " + std::to_string(number);
        if (mapping.contains("use")) {
            check_use(mapping, case_file, rootdir, checks, calling, problems, step_where,
                      calling.empty() ? step_where : calling_where);
        } else if (mapping.contains("with")) {
            problems.push_back(step_where + ": with gives the parameters of a flow, and "
                                            "belongs in a step with use");
        }
    }
}

py::dict flow_variables(const Flow &flow, py::handle given) {
    // A copy: one call's values must not become the next call's defaults.
    py::dict variables = py::reinterpret_steal<py::dict>(PyDict_Copy(flow.defaults.ptr()));
    if (!variables) {
        throw py::error_already_set();
    }
    if (!given.is_none()) {
        for (auto [name, value] : py::reinterpret_borrow<py::dict>(given)) {
            variables[name] = value;
        }
    }
    return variables;
}

} // namespace lumox::yaml_cases

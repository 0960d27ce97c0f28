// lumox.yaml_cases: YAML case files as pytest tests.
//
// `test_*.yaml` files are collected by YamlCaseFile; each case becomes a YamlItem, a
// pytest.Function whose test object is a YamlCase: a callable that asks for the `request`
// fixture and carries the case's marks, so pytest's own fixture machinery (usefixtures,
// autouse, scopes) and mark handling (skip, xfail) apply unchanged. Running the item renders
// each step over the run's variables just before it runs and hands it to the hook
// `pytest_yaml_run_step(item, request)`.
#include <pybind11/pybind11.h>

#include "case_loader.hpp"
#include "case_schema.hpp"
#include "core/case_files.hpp"
#include "failure_report.hpp"
#include "flows.hpp"
#include "native/common/broken_files.hpp"
#include "native/common/case_item.hpp"
#include "native/common/data_rows.hpp"
#include "native/common/errors.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/retry.hpp"
#include "native/common/session_gc.hpp"
#include "native/common/step.hpp"

#include <string>

namespace py = pybind11;
using lumox::py_helpers::get_logger;
using lumox::py_helpers::make_class;
using lumox::py_helpers::method;
using namespace lumox::yaml_cases;

namespace {

// 0-based line of the case's document in its file.
constexpr const char *case_line_attr = "_lumox_case_line";

// A case's data (`case`, and `steps`, its list of steps) is held in these slots of its
// item; `case_document_attr` is the place of its document in the file, whose text the
// file node keeps (`file_text_attr`) to read the data again once a passing run dropped it.
constexpr const char *case_slot = "_lumox_case";
constexpr const char *steps_slot = "_lumox_steps";
constexpr const char *case_document_attr = "_lumox_case_document";
constexpr const char *file_text_attr = "_lumox_text";
constexpr const char *file_documents_attr = "_lumox_documents";

// A case run over rows of data: the row's values and where the row is written.
constexpr const char *data_attr = "_lumox_data";
constexpr const char *data_origin_attr = "_lumox_data_origin";

// Classes and functions this module works with, kept for the whole process.
struct Runtime {
    py::object case_file; // YamlCaseFile
    py::object item;      // YamlItem
    py::object yaml_case; // YamlCase
    py::object render;    // lumox.templates.render
    py::object template_error;
};

Runtime *runtime = nullptr;

py::object collect_file(py::object file_path, py::object parent) {
    std::string name = py::str(file_path.attr("name")).cast<std::string>();
    if (!lumox::core::is_case_file_name(name, {".yaml", ".yml"})) {
        return py::none();
    }
    return runtime->case_file.attr("from_parent")(parent, py::arg("path") = file_path);
}

py::object make_test_object(const CaseSpec &found, py::handle path,
                            lumox::py_helpers::CaseItemMaker &maker) {
    if (found.marks.empty()) {
        return maker.unmarked_test_object(runtime->yaml_case);
    }
    py::object test_object =
        lumox::py_helpers::new_case_object(runtime->yaml_case, path, found.line0 + 1);
    test_object.attr("pytestmark") = found.marks;
    return test_object;
}

py::list collect_cases(py::object file_node) {
    lumox::py_helpers::GcPause gc_pause;
    LoadedFile loaded;
    try {
        loaded = load_cases(file_node);
    } catch (py::error_already_set &) {
        lumox::py_helpers::count_broken_case_file(file_node.attr("session"));
        throw;
    }
    std::vector<CaseSpec> &cases = loaded.cases;
    py::setattr(file_node, file_text_attr, loaded.text);
    py::setattr(file_node, file_documents_attr, py::none());
    py::list items;
    py::object path = file_node.attr("path");
    lumox::py_helpers::CaseItemMaker maker(runtime->item, file_node);
    for (CaseSpec &found : cases) {
        const auto add_item = [&](const py::str &name) {
            py::object item = maker.make(name, make_test_object(found, path, maker), found.marks);
            item.attr(case_slot) = found.document;
            item.attr(steps_slot) = found.steps;
            item.attr(case_line_attr) = found.line0;
            item.attr(case_document_attr) = found.document_index;
            items.append(item);
            return item;
        };
        if (found.rows.empty()) {
            add_item(found.name);
        }
        // One item per row of data, named as pytest names the items of a parametrized test.
        for (const DataRow &row : found.rows) {
            py::object item =
                add_item(py::str(py::str(found.name).cast<std::string>() + "[" + row.id + "]"));
            item.attr(data_attr) = row.values;
            item.attr(data_origin_attr) = py::str(row.origin);
        }
    }
    py::object check_problems = lumox::py_helpers::check_problems();
    for (const BrokenCase &broken : loaded.broken) {
        py::object item =
            maker.make(broken.name, maker.unmarked_test_object(runtime->yaml_case), py::list());
        item.attr(lumox::py_helpers::kBrokenCaseAttr) = py::str(broken.problems);
        item.attr(case_slot) = py::dict();
        item.attr(steps_slot) = py::list();
        item.attr(case_line_attr) = broken.line0;
        items.append(item);
        if (!check_problems.is_none()) {
            check_problems.attr("append")(py::str(broken.problems));
        }
    }
    return items;
}

// Where a failing step stands: at the case's step `index`, or inside the flows that step
// calls (`trail`: one line per call, outermost first, and `label` names the flow's step).
void remember_failure(py::handle item, py::error_already_set &error, py::ssize_t index,
                      py::handle step, bool rendered, py::handle trail = py::none(),
                      const std::string &label = "") {
    lumox::py_helpers::remember_step_failure(
        item, error, py::make_tuple(index, step, rendered, trail, py::str(label)));
}

// The report step of a YAML step: its number and, for a request, the method and URL as
// written ("2 POST /api/login").
std::string step_title(py::ssize_t index, py::handle step) {
    std::string title = std::to_string(index);
    if (py::isinstance<py::dict>(step) && step.contains("use")) {
        return title + " use " + lumox::py_helpers::to_str(step["use"]);
    }
    if (!py::isinstance<py::dict>(step) || !step.contains("request")) {
        return title;
    }
    py::object request = step["request"];
    if (!py::isinstance<py::dict>(request)) {
        return title;
    }
    for (const char *part : {"method", "url"}) {
        if (request.contains(part)) {
            title += " " + lumox::py_helpers::to_str(request[part]);
        }
    }
    return title;
}

// lumox.exchange's record of extracts that found nothing (one dict for the process).
py::dict &missed_variables() {
    static py::dict *misses = new py::dict(py::module_::import("lumox.exchange").attr("misses"));
    return *misses;
}

// A failure that involves a variable an earlier extract of this case found nothing for
// says so: "not data" is otherwise a riddle two steps later.
void explain_missed_variables(py::error_already_set &error, py::handle written_step) {
    py::dict &misses = missed_variables();
    const std::string step_text = py::repr(written_step).cast<std::string>();
    const bool shows_marker =
        py::str(error.value()).cast<std::string>().find("not data") != std::string::npos;
    for (auto [name, origin] : misses) {
        const std::string variable = py::str(name).cast<std::string>();
        if (shows_marker || step_text.find(variable) != std::string::npos) {
            lumox::py_helpers::add_note(
                error, variable + " is 'not data': " + py::str(origin).cast<std::string>());
        }
    }
}

// Tags the misses of step `index` with it ("step 2: extract ...").
void tag_misses(py::ssize_t index) {
    py::dict &misses = missed_variables();
    for (auto [name, origin] : misses) {
        const std::string text = py::str(origin).cast<std::string>();
        if (text.rfind("step ", 0) != 0) {
            misses[name] = "step " + std::to_string(index) + ": " + text;
        }
    }
}

// Calls of flows within calls: more is a flow that calls itself.
constexpr std::size_t kFlowDepthLimit = 50;

// A call of a flow being run: the step that called it and where the flow has got to.
struct FlowCall {
    std::string caller; // "step 2", or "step 1 of flow 'login'"
    const Flow *flow;
    py::ssize_t index = 0;
};

// One run of a case's steps, and of the flows they call.
struct CaseRun {
    py::object item;
    py::object request;
    py::object run_step;
    py::ssize_t case_index = 0;  // the case's own step being run
    std::vector<FlowCall> calls; // the flows being run, outermost first
};

// The failing step's place: "step 2", or "step 1 of flow 'login'".
std::string step_label(const CaseRun &run) {
    if (run.calls.empty()) {
        return "step " + std::to_string(run.case_index);
    }
    const FlowCall &call = run.calls.back();
    return "step " + std::to_string(call.index) + " of flow " +
           py::repr(py::str(call.flow->name)).cast<std::string>();
}

// Each call on the way to the failing step: "step 2 uses flow 'login' (flows.yaml), which
// failed at its step 1 of 2".
py::list call_trail(const CaseRun &run) {
    py::list trail;
    for (const FlowCall &call : run.calls) {
        trail.append(py::str(
            call.caller + " uses flow " + py::repr(py::str(call.flow->name)).cast<std::string>() +
            " (" + call.flow->file + "), which failed at its step " + std::to_string(call.index) +
            " of " + std::to_string(py::len(call.flow->steps))));
    }
    return trail;
}

void remember_in(CaseRun &run, py::error_already_set &error, py::handle step, bool rendered) {
    if (run.calls.empty()) {
        remember_failure(run.item, error, run.case_index, step, rendered);
    } else {
        remember_failure(run.item, error, run.case_index, step, rendered, call_trail(run),
                         step_label(run));
    }
}

// An undefined name in a case over data or in a flow: which names there are.
void explain_undefined(py::error_already_set &error, const CaseRun &run, py::handle variables) {
    if (variables.is_none() || !error.matches(runtime->template_error) ||
        py::str(error.value()).cast<std::string>().find("undefined variable") ==
            std::string::npos) {
        return;
    }
    std::string names;
    for (py::handle name : variables) {
        names += (names.empty() ? "" : ", ") + py::str(name).cast<std::string>();
    }
    lumox::py_helpers::add_note(
        error, (run.calls.empty()
                    ? "the case's data has the columns: "
                    : "flow " + py::repr(py::str(run.calls.back().flow->name)).cast<std::string>() +
                          " has the parameters: ") +
                   (names.empty() ? std::string("none") : names));
}

void run_step_list(CaseRun &run, py::list steps, py::object variables);

// A `use` step: the flow's steps, with its parameters, each a report step inside this one.
void run_flow_call(CaseRun &run, py::dict step, py::object variables) {
    std::string problem;
    py::object file_node = run.item.attr("parent");
    const Flow *flow =
        find_flow(run.calls.empty() ? run.item.attr("path") : run.calls.back().flow->path,
                  rootdir_of(file_node), py::str(step["use"]).cast<std::string>(),
                  step_checks(file_node), problem);
    if (flow == nullptr || run.calls.size() >= kFlowDepthLimit) {
        // Checked when collected; a flows file changed since then may be found wanting.
        if (flow != nullptr) {
            problem = "flows call each other more than " + std::to_string(kFlowDepthLimit) +
                      " deep (flow " + py::repr(py::str(flow->name)).cast<std::string>() +
                      " once more)";
        }
        py::set_error(flow == nullptr ? PyExc_LookupError : PyExc_RecursionError, problem.c_str());
        py::error_already_set error;
        remember_in(run, error, step, true);
        throw error;
    }
    py::object given = py::none();
    try {
        given = step.contains("with") ? runtime->render(step["with"], variables)
                                      : py::object(py::dict());
    } catch (py::error_already_set &error) {
        explain_undefined(error, run, variables);
        remember_in(run, error, step, false);
        throw;
    }
    run.calls.push_back(FlowCall{step_label(run), flow, 0});
    try {
        run_step_list(run, flow->steps, flow_variables(*flow, given));
    } catch (py::error_already_set &) {
        run.calls.pop_back(); // a retry calls the flow again from the same place
        throw;
    }
    run.calls.pop_back();
}

// A failure a later call of a flow may not have: a check that did not hold, or the
// service not answering (yet).
bool worth_another_call(py::error_already_set &error) {
    return error.matches(PyExc_AssertionError) ||
           error.matches(py::module_::import("httpx").attr("TransportError"));
}

// A `use` step with `retry`: the flow called again until it passes.
void run_flow_call_with_retry(CaseRun &run, py::dict step, py::object variables) {
    lumox::py_helpers::RetryPlan plan;
    try {
        plan = lumox::py_helpers::retry_plan(step["retry"]);
    } catch (py::error_already_set &error) {
        remember_in(run, error, step, false);
        throw;
    }
    const std::string what = "flow " + py::repr(step["use"]).cast<std::string>();
    long long passed = 0;
    try {
        passed = lumox::py_helpers::run_tries(
            plan, "lumox.yaml_cases", "the " + what, [&] { run_flow_call(run, step, variables); },
            worth_another_call);
    } catch (py::error_already_set &error) {
        if (error.matches(PyExc_AssertionError)) {
            py::object shown = step;
            try {
                shown = runtime->render(step, variables); // its with, as the calls had it
            } catch (py::error_already_set &render_error) {
                if (!render_error.matches(PyExc_Exception)) {
                    throw;
                }
            }
            remember_in(run, error, shown, true);
        }
        throw;
    }
    if (passed > 1) {
        lumox::py_helpers::mark_retried(run.item, "lumox.yaml_cases", "the " + what, passed,
                                        plan.times);
    }
}

void run_step_list(CaseRun &run, py::list steps, py::object variables) {
    const auto &logger = get_logger("lumox.yaml_cases");
    const std::string total = std::to_string(steps.size());
    const std::string flow_name = run.calls.empty() ? "" : run.calls.back().flow->name;
    for (py::handle step : steps) {
        std::string title;
        if (run.calls.empty()) {
            ++run.case_index;
            run.item.attr("current_step_index") = run.case_index;
            title = step_title(run.case_index, step);
        } else {
            ++run.calls.back().index;
            title = flow_name + " " + step_title(run.calls.back().index, step);
        }
        if (logger.debug_enabled()) {
            logger.debug("YAML case " + py::repr(run.item.attr("name")).cast<std::string>() + ": " +
                         step_label(run) + " of " + total);
        }
        // Each step is one report step; its request and response are attached to it.
        lumox::py_helpers::in_step(title, py::dict(), [&] {
            if (py::isinstance<py::dict>(step) && step.contains("use")) {
                py::dict call = py::reinterpret_borrow<py::dict>(step);
                if (call.contains("retry")) {
                    run_flow_call_with_retry(run, call, variables);
                } else {
                    run_flow_call(run, call, variables);
                }
                return;
            }
            py::object rendered;
            try {
                rendered = runtime->render(step, variables);
            } catch (py::error_already_set &error) {
                explain_undefined(error, run, variables);
                remember_in(run, error, step, false);
                throw;
            }
            run.item.attr("current_step") = rendered;
            const py::ssize_t index = run.calls.empty() ? run.case_index : run.calls.back().index;
            try {
                run.run_step(py::arg("item") = run.item, py::arg("request") = run.request);
            } catch (py::error_already_set &error) {
                tag_misses(index);
                if (error.matches(PyExc_Exception)) {
                    explain_missed_variables(error, step);
                }
                remember_in(run, error, rendered, true);
                throw;
            }
            tag_misses(index);
        });
    }
}

void run_steps_of(py::object item) {
    lumox::py_helpers::forget_step_failure(item);
    missed_variables().clear();
    CaseRun run{item,
                item.attr("funcargs")["request"],
                item.attr("ihook").attr("pytest_yaml_run_step"),
                0,
                {}};
    run_step_list(run, item.attr("steps"), item.attr(data_attr));
}

// A case's last response lives as long as the case runs: items stay for the whole session,
// and a suite of large bodies would otherwise keep every one of them. The last rendered
// step and the data of a passing case go too (its data is read again from the file's text
// if asked for); a failing case keeps them for whoever looks into it.
void run_steps(py::object item) {
    try {
        run_steps_of(item);
    } catch (py::error_already_set &) {
        item.attr("resp") = py::none();
        throw;
    }
    item.attr("resp") = py::none();
    item.attr("current_step") = py::none();
    item.attr(case_slot) = py::none();
    item.attr(steps_slot) = py::none();
}

// Brings back the data a passing run dropped. The file's documents are read once for all
// of its items: a hook that reads every case after the run costs one reading of the file.
void read_case_again(py::handle item) {
    py::object file_node = item.attr("parent");
    py::object documents = file_node.attr(file_documents_attr);
    if (documents.is_none()) {
        documents = read_documents_again(file_node, file_node.attr(file_text_attr));
        py::setattr(file_node, file_documents_attr, documents);
    }
    py::object document = documents[item.attr(case_document_attr)];
    item.attr(case_slot) = document;
    item.attr(steps_slot) = document["steps"];
}

// `case` and `steps` read their slot, bringing the data back first if a run dropped it.
py::object case_data(py::object self, const char *slot) {
    if (self.attr(slot).is_none()) {
        read_case_again(self);
    }
    return self.attr(slot);
}

py::object item_case(py::object self) { return case_data(self, case_slot); }

py::object item_steps(py::object self) { return case_data(self, steps_slot); }

void set_item_case(py::object self, py::object value) { self.attr(case_slot) = value; }

void set_item_steps(py::object self, py::object value) { self.attr(steps_slot) = value; }

py::object item_reportinfo(py::object self) {
    return py::make_tuple(self.attr("path"), py::getattr(self, case_line_attr, py::none()),
                          "case: " + py::str(self.attr("name")).cast<std::string>());
}

py::object report_step_failure(py::object self, py::object excinfo, py::tuple record) {
    StepFailure failure{record[0], record[1].cast<py::ssize_t>(), record[2], record[3].cast<bool>(),
                        record[4], record[5].cast<std::string>(), py::none()};
    py::object data = self.attr(data_attr);
    if (!data.is_none()) {
        failure.data = py::str(lumox::py_helpers::describe_data_row(
            data, py::str(self.attr(data_origin_attr)).cast<std::string>()));
    }
    return failure_report(self, excinfo, failure);
}

void define_classes(py::module_ &m) {
    py::module_ pytest = py::module_::import("pytest");

    runtime->yaml_case = lumox::py_helpers::define_case_object_class(
        m, "YamlCase", &run_steps, "The test object of one YAML case: asks for `request`.");

    py::dict fields;
    fields["current_step"] = py::none();
    fields["current_step_index"] = py::none();
    fields["resp"] = py::none();
    fields[data_attr] = py::none();
    fields[data_origin_attr] = py::none();
    runtime->item = lumox::py_helpers::define_case_item_class(
        m, "YamlItem", "One YAML case: its steps run through pytest_yaml_run_step.", &run_steps,
        &item_reportinfo, &report_step_failure, fields);
    py::object property = py::module_::import("builtins").attr("property");
    py::setattr(runtime->item, "case",
                property(py::cpp_function(&item_case, py::name("case"), py::arg("self")),
                         py::cpp_function(&set_item_case, py::arg("self"), py::arg("value")),
                         py::none(), "The case as written in its YAML document."));
    py::setattr(runtime->item, "steps",
                property(py::cpp_function(&item_steps, py::name("steps"), py::arg("self")),
                         py::cpp_function(&set_item_steps, py::arg("self"), py::arg("value")),
                         py::none(), "The case's steps as written."));

    py::dict file_ns;
    file_ns["collect"] = method(&collect_cases, "collect", py::arg("self"));
    runtime->case_file = make_class(m, "YamlCaseFile", py::make_tuple(pytest.attr("File")), file_ns,
                                    "A test_*.yaml file: one case per YAML document.");
}

} // namespace

PYBIND11_MODULE(yaml_cases, m) {
    m.doc() = "Collection of test_*.yaml case files and the running of their steps.";
    runtime = new Runtime();
    runtime->render = py::module_::import("lumox.templates").attr("render");
    runtime->template_error = py::module_::import("lumox.templates").attr("TemplateError");
    define_failure_report(m);
    define_classes(m);
    m.def("collect_file", &collect_file, py::arg("file_path"), py::arg("parent"),
          "The collector of a test_*.yaml / test_*.yml file, None for other files.");
    lumox::py_helpers::define_session_gc_functions(m, runtime->item);
    // A copy: the schema collection checks with stays as built.
    m.def(
        "case_schema",
        [] {
            return py::module_::import("copy").attr("deepcopy")(lumox::yaml_cases::case_schema());
        },
        "The JSON Schema of case files (draft 7), as `lumox schema` prints it.");
    m.def("case_format", &lumox::yaml_cases::case_format,
          "Every section of the case format (case, step, request, response) with its keys: "
          "name, required, meaning and the JSON Schema of the value.");
    m.def("excuse_broken_files", &lumox::py_helpers::excuse_broken_case_files, py::arg("session"),
          "Takes the case files that failed to load out of the session's failure count "
          "and returns how many there were.");
}

// lumox.workbooks: keyword cases in workbooks as pytest tests.
//
// `test_*.xlsx` files are collected by WorkbookFile; each case sheet becomes a
// WorkbookItem, a pytest.Function whose test object asks for the `request` fixture, so
// pytest's fixtures and marks apply as to any test. Running the item creates one keyword
// object for the case -- of the class the setting keyword_type names, given the run's
// Exchange and the case's fixtures -- and calls each step's keyword through the attribute
// "_key_" + keyword with the step's arguments, after replacing their {name} references
// by run variables. Each step is one report step.
#include <pybind11/pybind11.h>

#include "arguments.hpp"
#include "core/case_files.hpp"
#include "failure_report.hpp"
#include "fixture_mapping.hpp"
#include "keyword_class.hpp"
#include "native/common/broken_files.hpp"
#include "native/common/case_item.hpp"
#include "native/common/errors.hpp"
#include "native/common/keyword.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/retry.hpp"
#include "native/common/secrets.hpp"
#include "native/common/session_gc.hpp"
#include "native/common/step.hpp"
#include "page_evidence.hpp"
#include "sheet_rows.hpp"
#include "workbook_loader.hpp"

#include <map>
#include <optional>
#include <string>

namespace py = pybind11;
using lumox::py_helpers::get_logger;
using lumox::py_helpers::make_class;
using lumox::py_helpers::method;
using namespace lumox::workbooks;

namespace {

// The prefix that turns a keyword name into the keyword object's attribute.
constexpr const char *keyword_prefix = "_key_";

// Classes this module works with, kept for the whole process.
struct Runtime {
    py::object workbook_file; // WorkbookFile
    py::object item;          // WorkbookItem
    py::object case_object;   // WorkbookCase
};

Runtime *runtime = nullptr;

py::object collect_file(py::object file_path, py::object parent) {
    std::string name = py::str(file_path.attr("name")).cast<std::string>();
    if (!lumox::core::is_case_file_name(name, {".xlsx"})) {
        return py::none();
    }
    return runtime->workbook_file.attr("from_parent")(parent, py::arg("path") = file_path);
}

// A case run over the rows of a data sheet: the row's values and where the row is.
constexpr const char *data_attr = "_lumox_data";
constexpr const char *data_origin_attr = "_lumox_data_origin";

py::list collect_cases(py::object file_node) {
    lumox::py_helpers::GcPause gc_pause;
    WorkbookCases workbook;
    try {
        workbook = load_case_sheets(file_node);
    } catch (py::error_already_set &) {
        lumox::py_helpers::count_broken_case_file(file_node.attr("session"));
        throw;
    }
    py::object path = file_node.attr("path");
    py::list items;
    lumox::py_helpers::CaseItemMaker maker(runtime->item, file_node);
    py::object check_problems = lumox::py_helpers::check_problems();
    const auto add_item = [&](const CaseSheet &sheet, const py::str &name) {
        py::object item =
            maker.make(name, maker.unmarked_test_object(runtime->case_object), py::none());
        item.attr("workbook") = path;
        item.attr("sheet") = sheet.name;
        item.attr("steps") = sheet.steps;
        item.attr("flow_sheets") = workbook.flows;
        if (!sheet.problems.empty()) {
            // An error at its setup, listing the problems; the other sheets run.
            item.attr(lumox::py_helpers::kBrokenCaseAttr) = py::str(sheet.problems);
            item.attr("steps") = py::list();
        } else if (sheet.steps.empty()) {
            // A sheet of notes, or a case not written yet: shown as skipped, never as passed.
            item.attr("add_marker")(py::module_::import("pytest").attr("mark").attr("skip")(
                py::arg("reason") = "no steps: no row below the header has a keyword"));
        }
        items.append(item);
        return item;
    };
    for (CaseSheet &sheet : workbook.cases) {
        if (!sheet.problems.empty() && !check_problems.is_none()) {
            check_problems.attr("append")(py::str(sheet.problems));
        }
        if (sheet.rows.empty()) {
            add_item(sheet, sheet.name);
        }
        // One item per data row, named as pytest names the items of a parametrized test.
        for (const DataSheetRow &row : sheet.rows) {
            py::object item =
                add_item(sheet, py::str(sheet.name.cast<std::string>() + "[" + row.id + "]"));
            item.attr(data_attr) = row.values;
            item.attr(data_origin_attr) = py::str(row.origin);
        }
    }
    return items;
}

// `page` is (url, title) of the browser when the step failed, or None.
void remember_failure(py::handle item, py::error_already_set &error, py::handle step,
                      py::handle args, bool substituted, py::handle page = py::none()) {
    lumox::py_helpers::remember_step_failure(item, error,
                                             py::make_tuple(step, args, substituted, page));
}

// The report step's parameters: the keyword and its arguments as they are called (as
// written when replacing their references failed).
py::dict step_params(py::handle step, py::handle args) {
    if (!lumox::py_helpers::steps_recorded()) {
        return py::dict();
    }
    py::object represent = py::module_::import("allure_commons.utils").attr("represent");
    py::dict params;
    params["keyword"] = represent(step["keyword"]);
    params["arguments"] = represent(lumox::py_helpers::masked_keyword_args(step["keyword"], args));
    return params;
}

void call_keyword(py::handle item, py::handle keyword_object, py::handle exchanger, py::handle step,
                  py::handle args) {
    const std::string keyword = py::str(step["keyword"]).cast<std::string>();
    py::dict saved_before = snapshot_saved_variables(exchanger);
    try {
        py::object call = keyword_object.attr(py::str(keyword_prefix + keyword));
        call(*py::reinterpret_borrow<py::tuple>(args));
    } catch (py::error_already_set &error) {
        publish_saved_variables(exchanger, saved_before);
        // Still inside the row's report step: the screenshot belongs to it.
        py::object page = py::none();
        if (error.matches(PyExc_Exception)) {
            attach_driver_stack(error.value());
            page = capture_page(keyword_object);
        }
        remember_failure(item, error, step, args, true, page);
        throw;
    }
    publish_saved_variables(exchanger, saved_before);
}

// One run of a case's rows, and of the sheets they run.
struct SheetRun {
    py::object item;
    py::object keyword_object;
    py::object exchanger;
};

void run_step(SheetRun &run, py::handle step, py::handle own) {
    // References are replaced before the report step opens, so that it shows the
    // arguments as called; a failure to replace them fails the report step.
    py::object written = step["args"];
    py::tuple args;
    std::optional<py::error_already_set> substitution_error;
    try {
        args = substitute_arguments(written, run.exchanger, own);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        substitution_error = error;
    }
    run.item.attr("current_args") = substitution_error ? py::object(py::none()) : py::object(args);
    py::dict params = step_params(step, substitution_error ? written : py::object(args));
    lumox::py_helpers::in_step(step_title(step), params, [&] {
        if (substitution_error) {
            remember_failure(run.item, *substitution_error, step, written, false);
            throw *substitution_error;
        }
        call_keyword(run.item, run.keyword_object, run.exchanger, step, args);
    });
}

void run_rows(SheetRun &run, py::list steps, py::object own);

// The variables a run_sheet row gives the sheet it runs: its cells from E as name=value.
py::dict sheet_variables(py::tuple args) {
    py::dict variables;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i].is_none()) {
            continue;
        }
        const std::string text = lumox::py_helpers::to_str(args[i]);
        const auto equals = text.find('=');
        const std::string name =
            equals == std::string::npos
                ? ""
                : py::str(text.substr(0, equals)).attr("strip")().cast<std::string>();
        if (name.empty()) {
            py::set_error(PyExc_ValueError,
                          ("run_sheet: give the sheet's variables as name=value, not " +
                           lumox::py_helpers::to_repr(args[i]))
                              .c_str());
            throw py::error_already_set();
        }
        variables[py::str(name)] = py::str(text.substr(equals + 1));
    }
    return variables;
}

// A run_sheet row: the sheet's rows, each a report step inside this row's.
void run_sheet_row(SheetRun &run, py::handle step, py::handle own) {
    py::object written = step["args"];
    py::tuple args;
    py::dict variables;
    try {
        args = substitute_arguments(written, run.exchanger, own);
        variables = sheet_variables(args);
    } catch (py::error_already_set &error) {
        lumox::py_helpers::in_step(step_title(step), step_params(step, written), [&] {
            remember_failure(run.item, error, step, written, false);
            throw error;
        });
    }
    const py::str title = args[0];
    lumox::py_helpers::in_step(step_title(step), step_params(step, args), [&] {
        try {
            run_rows(run, run.item.attr("flow_sheets")[title], variables);
        } catch (py::error_already_set &error) {
            if (error.matches(PyExc_Exception)) {
                const py::object sheet =
                    step.contains("sheet") ? py::object(step["sheet"]) : run.item.attr("sheet");
                lumox::py_helpers::add_note(
                    error, "run by row " + lumox::py_helpers::to_str(step["row"]) + " of sheet " +
                               lumox::py_helpers::to_repr(sheet) + " (run_sheet " +
                               lumox::py_helpers::to_repr(title) + ")");
            }
            throw;
        }
    });
}

void run_row(SheetRun &run, py::handle step, py::handle own) {
    if (py::str(step["keyword"]).cast<std::string>() == run_sheet_keyword) {
        run_sheet_row(run, step, own);
    } else {
        run_step(run, step, own);
    }
}

// A retry row's condition on a variable ("job == done"): an AssertionError when it does
// not hold.
void check_condition(SheetRun &run, const std::string &condition, py::handle own) {
    for (const char *op : {" == ", " != ", " contains "}) {
        const auto at = condition.find(op);
        if (at == std::string::npos) {
            continue;
        }
        const std::string name =
            py::str(condition.substr(0, at)).attr("strip")().cast<std::string>();
        const std::string expected = py::str(condition.substr(at + std::string(op).size()))
                                         .attr("strip")()
                                         .cast<std::string>();
        py::object value =
            substitute_arguments(py::make_tuple("{" + name + "}"), run.exchanger, own)[0];
        const std::string actual = lumox::py_helpers::to_str(value);
        const std::string kind(op);
        const bool holds = kind == " == "   ? actual == expected
                           : kind == " != " ? actual != expected
                                            : actual.find(expected) != std::string::npos;
        if (!holds) {
            py::set_error(PyExc_AssertionError, ("until: " + condition + " does not hold: " + name +
                                                 " is " + lumox::py_helpers::to_repr(value))
                                                    .c_str());
            throw py::error_already_set();
        }
        return;
    }
}

// A retry row: the rows it covers (steps[first] up to it) again, until they pass and its
// condition holds; each try a report step inside the retry row's.
void run_retry(SheetRun &run, py::list steps, std::size_t first, std::size_t retry_at,
               py::handle own) {
    py::dict retry = steps[retry_at];
    const long long times = retry["times"].cast<long long>();
    const double delay = retry["delay"].cast<double>();
    py::tuple written = retry["args"];
    const std::string rows =
        first + 1 == retry_at
            ? "row " + py::str(py::object(steps[first])["row"]).cast<std::string>()
            : "rows " + py::str(py::object(steps[first])["row"]).cast<std::string>() + "-" +
                  py::str(py::object(steps[retry_at - 1])["row"]).cast<std::string>();
    lumox::py_helpers::RetryPlan plan;
    plan.times = times;
    plan.delay = delay;
    lumox::py_helpers::in_step(step_title(retry), step_params(retry, written), [&] {
        long long passed = 0;
        try {
            passed = lumox::py_helpers::run_tries(
                plan, "lumox.workbooks", "the " + rows,
                [&] {
                    for (std::size_t index = first; index < retry_at; ++index) {
                        run_row(run, steps[index], own);
                    }
                    if (written.size() > 3 && !written[3].is_none()) {
                        py::tuple args = substitute_arguments(written, run.exchanger, own);
                        check_condition(run, lumox::py_helpers::to_str(args[3]), own);
                    }
                },
                // Any error of a row may be gone at the next try: a page still loading,
                // a service still starting.
                [](py::error_already_set &error) { return error.matches(PyExc_Exception); });
        } catch (py::error_already_set &error) {
            if (error.matches(PyExc_AssertionError)) {
                remember_failure(run.item, error, retry, written, false);
            }
            throw;
        }
        if (passed > 1) {
            lumox::py_helpers::mark_retried(run.item, "lumox.workbooks", "the " + rows, passed,
                                            times);
        }
    });
}

void run_rows(SheetRun &run, py::list steps, py::object own) {
    const auto &logger = get_logger("lumox.workbooks");
    const std::string case_name = py::repr(run.item.attr("name")).cast<std::string>();
    const std::string total = std::to_string(steps.size());
    // The rows a retry repeats are run by it: first covered row -> the retry row.
    std::map<std::size_t, std::size_t> retried;
    for (std::size_t index = 0; index < steps.size(); ++index) {
        py::object step = steps[index];
        if (step.contains("covers")) {
            retried[index - step["covers"].cast<std::size_t>()] = index;
        }
    }
    for (std::size_t index = 0; index < steps.size(); ++index) {
        py::object step = steps[index];
        run.item.attr("current_step") = step;
        run.item.attr("current_args") = py::none();
        if (logger.debug_enabled()) {
            logger.debug("Workbook case " + case_name + ": row " +
                         py::str(step["row"]).cast<std::string>() + ", step " +
                         py::str(step["index"]).cast<std::string>() + " of " + total);
        }
        const auto block = retried.find(index);
        if (block != retried.end()) {
            run_retry(run, steps, index, block->second, own);
            index = block->second;
        } else {
            run_row(run, step, own);
        }
    }
}

void run_steps(py::handle item, py::handle keyword_object, py::handle exchanger) {
    SheetRun run{py::reinterpret_borrow<py::object>(item),
                 py::reinterpret_borrow<py::object>(keyword_object),
                 py::reinterpret_borrow<py::object>(exchanger)};
    run_rows(run, item.attr("steps"), item.attr(data_attr));
}

// The keyword object's HTTP client belongs to the case: its connections close with it.
void close_case_client(py::handle keyword_object) {
    // A client the case never used was never built: nothing to close, nothing to build.
    if (!py::getattr(keyword_object, "_pending_client", py::none()).is_none()) {
        return;
    }
    py::object client = py::getattr(keyword_object, "client", py::none());
    if (!client.is_none() && py::isinstance(client, py::module_::import("httpx").attr("Client"))) {
        client.attr("close")();
    }
}

// Browser sessions the case started itself (new_driver) end with it; those of fixtures
// are left to their fixtures.
void close_case_drivers(py::handle keyword_object) {
    if (py::hasattr(keyword_object, "close_drivers")) {
        keyword_object.attr("close_drivers")();
    }
}

void end_case(py::handle item, py::handle keyword_object) {
    item.attr("keyword_object") = py::none();
    try {
        close_case_client(keyword_object);
    } catch (py::error_already_set &) {
        close_case_drivers(keyword_object);
        throw;
    }
    close_case_drivers(keyword_object);
}

void run_case(py::object item) {
    lumox::py_helpers::forget_step_failure(item);
    py::object request = item.attr("funcargs")["request"];
    py::object exchanger = py::module_::import("lumox.steps").attr("exchanger");
    py::object keyword_object;
    try {
        keyword_object = keyword_class()(exchanger, make_fixture_mapping(request));
    } catch (py::error_already_set &error) {
        remember_failure(item, error, py::none(), py::none(), false);
        throw;
    }
    item.attr("keyword_object") = keyword_object;
    try {
        run_steps(item, keyword_object, exchanger);
    } catch (py::error_already_set &) {
        try {
            end_case(item, keyword_object);
        } catch (py::error_already_set &close_error) {
            // The step's error is the one to report.
            if (!close_error.matches(PyExc_Exception)) {
                throw;
            }
        }
        throw;
    }
    end_case(item, keyword_object);
}

// A workbook has no lines; pytest needs one where it reports at the item (skip marks).
py::object item_reportinfo(py::object self) {
    return py::make_tuple(self.attr("path"), 0,
                          "case: " + py::str(self.attr("name")).cast<std::string>());
}

py::object report_step_failure(py::object self, py::object excinfo, py::tuple record) {
    return failure_report(
        self, excinfo,
        CaseFailure{record[0], record[1], record[2], record[3].cast<bool>(), record[4]});
}

void define_classes(py::module_ &m) {
    py::module_ pytest = py::module_::import("pytest");
    runtime->case_object = lumox::py_helpers::define_case_object_class(
        m, "WorkbookCase", &run_case, "The test object of one workbook case: asks for `request`.");

    py::dict fields;
    fields["current_step"] = py::none();
    fields["current_args"] = py::none();
    fields["keyword_object"] = py::none();
    fields["flow_sheets"] = py::dict();
    fields[data_attr] = py::none();
    fields[data_origin_attr] = py::none();
    runtime->item = lumox::py_helpers::define_case_item_class(
        m, "WorkbookItem", "One workbook case (a sheet): each row with a keyword is a step.",
        &run_case, &item_reportinfo, &report_step_failure, fields);

    py::dict file_ns;
    file_ns["collect"] = method(&collect_cases, "collect", py::arg("self"));
    runtime->workbook_file =
        make_class(m, "WorkbookFile", py::make_tuple(pytest.attr("File")), file_ns,
                   "A test_*.xlsx workbook: one case per sheet but _key_word.");
}

} // namespace

PYBIND11_MODULE(workbooks, m) {
    m.doc() = "Collection of test_*.xlsx keyword case workbooks and the running of their steps.";
    runtime = new Runtime();
    define_variable_error(m);
    define_fixture_mapping(m);
    define_failure_report(m);
    define_classes(m);
    define_sheet_rows(m);
    m.def("collect_file", &collect_file, py::arg("file_path"), py::arg("parent"),
          "The collector of a test_*.xlsx workbook, None for other files.");
    lumox::py_helpers::define_session_gc_functions(m, runtime->item);
    m.def("excuse_broken_files", &lumox::py_helpers::excuse_broken_case_files, py::arg("session"),
          "Takes the case files that failed to load out of the session's failure count "
          "and returns how many there were.");
    // As a keyword method's `declaration`, for the reference.
    py::list runner_keywords;
    for (const lumox::core::RunnerKeyword *keyword : lumox::core::kRunnerKeywords) {
        py::list params;
        for (const lumox::core::RunnerParam &param : keyword->params) {
            py::dict entry = lumox::py_helpers::declared_param(
                param.name, param.kind, param.doc,
                param.fallback != nullptr ? py::str(param.fallback) : py::object());
            entry["repeats"] = param.repeats;
            params.append(entry);
        }
        runner_keywords.append(py::dict(py::arg("name") = keyword->name,
                                        py::arg("summary") = keyword->summary,
                                        py::arg("params") = params));
    }
    m.attr("runner_keywords") = runner_keywords;
    m.def("keyword_class", &keyword_class,
          "The keyword class of workbook cases, as the setting [lumox] keyword_type names it.");
}

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
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/secrets.hpp"
#include "native/common/session_gc.hpp"
#include "native/common/step.hpp"
#include "page_evidence.hpp"
#include "sheet_rows.hpp"
#include "workbook_loader.hpp"

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

py::list collect_cases(py::object file_node) {
    lumox::py_helpers::GcPause gc_pause;
    std::vector<CaseSheet> sheets;
    try {
        sheets = load_case_sheets(file_node);
    } catch (py::error_already_set &) {
        lumox::py_helpers::count_broken_case_file(file_node.attr("session"));
        throw;
    }
    py::object path = file_node.attr("path");
    py::list items;
    lumox::py_helpers::CaseItemMaker maker(runtime->item, file_node);
    py::object check_problems = lumox::py_helpers::check_problems();
    for (CaseSheet &sheet : sheets) {
        py::object item = maker.make(
            py::str(sheet.name), maker.unmarked_test_object(runtime->case_object), py::none());
        item.attr("workbook") = path;
        item.attr("sheet") = sheet.name;
        item.attr("steps") = sheet.steps;
        if (!sheet.problems.empty()) {
            // An error at its setup, listing the problems; the other sheets run.
            item.attr(lumox::py_helpers::kBrokenCaseAttr) = py::str(sheet.problems);
            item.attr("steps") = py::list();
            if (!check_problems.is_none()) {
                check_problems.attr("append")(py::str(sheet.problems));
            }
        } else if (sheet.steps.empty()) {
            // A sheet of notes, or a case not written yet: shown as skipped, never as passed.
            item.attr("add_marker")(py::module_::import("pytest").attr("mark").attr("skip")(
                py::arg("reason") = "no steps: no row below the header has a keyword"));
        }
        items.append(item);
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

void run_step(py::handle item, py::handle keyword_object, py::handle exchanger, py::handle step) {
    // References are replaced before the report step opens, so that it shows the
    // arguments as called; a failure to replace them fails the report step.
    py::object written = step["args"];
    py::tuple args;
    std::optional<py::error_already_set> substitution_error;
    try {
        args = substitute_arguments(written, exchanger);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        substitution_error = error;
    }
    item.attr("current_args") = substitution_error ? py::object(py::none()) : py::object(args);
    py::dict params = step_params(step, substitution_error ? written : py::object(args));
    lumox::py_helpers::in_step(step_title(step), params, [&] {
        if (substitution_error) {
            remember_failure(item, *substitution_error, step, written, false);
            throw *substitution_error;
        }
        call_keyword(item, keyword_object, exchanger, step, args);
    });
}

void run_steps(py::handle item, py::handle keyword_object, py::handle exchanger) {
    py::list steps = item.attr("steps");
    const auto &logger = get_logger("lumox.workbooks");
    const std::string case_name = py::repr(item.attr("name")).cast<std::string>();
    const std::string total = std::to_string(steps.size());
    for (py::handle step : steps) {
        item.attr("current_step") = step;
        item.attr("current_args") = py::none();
        if (logger.debug_enabled()) {
            logger.debug("Workbook case " + case_name + ": row " +
                         py::str(step["row"]).cast<std::string>() + ", step " +
                         py::str(step["index"]).cast<std::string>() + " of " + total);
        }
        run_step(item, keyword_object, exchanger, step);
    }
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
        self, excinfo, CaseFailure{record[0], record[1], record[2], record[3].cast<bool>(), record[4]});
}

void define_classes(py::module_ &m) {
    py::module_ pytest = py::module_::import("pytest");
    runtime->case_object = lumox::py_helpers::define_case_object_class(
        m, "WorkbookCase", &run_case, "The test object of one workbook case: asks for `request`.");

    py::dict fields;
    fields["current_step"] = py::none();
    fields["current_args"] = py::none();
    fields["keyword_object"] = py::none();
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
    m.def("keyword_class", &keyword_class,
          "The keyword class of workbook cases, as the setting [lumox] keyword_type names it.");
}

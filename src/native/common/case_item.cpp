#include "case_item.hpp"

#include "pyclass.hpp"

#include <string>

namespace lumox::py_helpers {

namespace {

// Where an item remembers the failure of a step between runtest and repr_failure.
constexpr const char *step_failure_attr = "_lumox_step_failure";

// Class attribute naming the fields a run of an item sets (class-level defaults).
constexpr const char *run_fields_attr = "_lumox_run_fields";

// Slot of a test object holding its code object.
constexpr const char *code_slot = "_lumox_code";

// The empty code object every case's code is made from; kept for the whole process.
py::object *empty_code = nullptr;

py::object case_code(py::object self) { return self.attr(code_slot); }

// What pytest evaluates the text conditions of skipif and xfail marks in (besides os, sys,
// platform and config): the run's variables, as a copy.
py::object case_globals(py::object /*self*/) {
    return py::dict(py::module_::import("lumox.templates").attr("env_globals"));
}

// Made anew on each access rather than kept: tools read it rarely, and 10,000 items would
// otherwise hold 10,000 functions. pytest plug-ins read it once an item at the end of the
// collection (anyio's asks whether it is a coroutine), so it is made by PyFunction_New
// rather than by calling types.FunctionType.
py::object item_function(py::object self) {
    py::tuple place = self.attr("reportinfo")();
    py::object line0 = place[1];
    py::object code = empty_code->attr("replace")(
        py::arg("co_filename") = py::str(place[0]),
        py::arg("co_firstlineno") = line0.is_none() ? 1 : line0.cast<py::ssize_t>() + 1);
    py::dict globals;
    auto function = py::reinterpret_steal<py::object>(PyFunction_New(code.ptr(), globals.ptr()));
    if (!function) {
        throw py::error_already_set();
    }
    py::object name = self.attr("name");
    function.attr("__name__") = name;
    function.attr("__qualname__") = name;
    return function;
}

} // namespace

py::object define_case_object_class(py::module_ &module, const char *name,
                                    void (*run)(py::object item), const char *doc) {
    py::module_ builtins = py::module_::import("builtins");
    py::object parameter = py::module_::import("inspect").attr("Parameter");
    if (empty_code == nullptr) {
        empty_code = new py::object(builtins.attr("compile")("", "<case>", "exec"));
    }

    py::dict ns;
    ns["__call__"] = method([run](py::object, py::object request) { run(request.attr("node")); },
                            "__call__", py::arg("self"), py::arg("request"));
    // pytest reads the arguments of a test object to decide which fixtures it needs.
    ns["__signature__"] = py::module_::import("inspect").attr("Signature")(
        py::make_tuple(parameter("request", parameter.attr("POSITIONAL_OR_KEYWORD"))));
    ns["__code__"] = builtins.attr("property")(py::cpp_function(&case_code));
    ns["__globals__"] = builtins.attr("property")(py::cpp_function(&case_globals));
    ns["__slots__"] = py::make_tuple(code_slot, "__dict__");
    return make_class(module, name, py::make_tuple(builtins.attr("object")), ns, doc);
}

py::object new_case_object(py::handle case_class, py::handle path, py::ssize_t line) {
    py::object test_object = case_class();
    test_object.attr(code_slot) = empty_code->attr("replace")(
        py::arg("co_filename") = py::str(path), py::arg("co_firstlineno") = line);
    return test_object;
}

namespace {

bool has_usefixtures(py::handle marks) {
    if (marks.is_none()) {
        return false;
    }
    for (py::handle mark : marks) {
        py::object name = py::getattr(mark, "name", py::none());
        if (!name.is_none() && py::str(name).cast<std::string>() == "usefixtures") {
            return true;
        }
    }
    return false;
}

} // namespace

py::object CaseItemMaker::make(const py::str &name, const py::object &test_object,
                               py::handle marks) {
    const bool shareable = !has_usefixtures(marks);
    py::dict known;
    if (shareable && shared_fixture_info_) {
        known["fixtureinfo"] = shared_fixture_info_;
    }
    py::object item = item_class_.attr("from_parent")(file_node_, py::arg("name") = name,
                                                      py::arg("callobj") = test_object, **known);
    if (shareable && !shared_fixture_info_) {
        shared_fixture_info_ = item.attr("_fixtureinfo");
    }
    give_run_fields(item);
    return item;
}

py::object CaseItemMaker::unmarked_test_object(py::handle case_class) {
    if (!shared_test_object_) {
        shared_test_object_ = new_case_object(case_class, file_node_.attr("path"), 1);
    }
    return shared_test_object_;
}

void CaseItemMaker::give_run_fields(py::handle item) {
    // Python keeps the attribute names of a class's instances in one shared table, and
    // gives each instance a dict of its own once it gets more names than were known when it
    // was made. The fields a run sets are set here, at once, so that every item is made
    // knowing them (232 bytes of attributes an item, not 832).
    if (!run_fields_) {
        run_fields_ = item_class_.attr(run_fields_attr);
    }
    forget_step_failure(item);
    for (py::handle field : run_fields_) {
        py::setattr(item, field, item_class_.attr(field));
    }
}

py::object case_function_property() {
    return py::module_::import("builtins").attr("property")(py::cpp_function(&item_function));
}

void remember_step_failure(py::handle item, py::error_already_set &error, py::tuple details) {
    py::module_ pytest = py::module_::import("pytest");
    if (error.matches(pytest.attr("skip").attr("Exception").ptr()) ||
        error.matches(pytest.attr("xfail").attr("Exception").ptr())) {
        return;
    }
    item.attr(step_failure_attr) = py::make_tuple(error.value()) + details;
}

void forget_step_failure(py::handle item) { item.attr(step_failure_attr) = py::none(); }

py::object
define_case_item_class(py::module_ &module, const char *name, const char *doc,
                       void (*run)(py::object item), py::object (*reportinfo)(py::object item),
                       py::object (*report)(py::object item, py::object excinfo, py::tuple record),
                       py::dict fields) {
    py::object function_class = py::module_::import("pytest").attr("Function");
    py::list run_fields;
    for (auto [field, value] : fields) {
        run_fields.append(field);
    }
    py::dict ns = fields;
    ns[run_fields_attr] = py::tuple(run_fields);
    ns["runtest"] = method(run, "runtest", py::arg("self"));
    ns["reportinfo"] = method(reportinfo, "reportinfo", py::arg("self"));
    ns["repr_failure"] = method(
        [report, function_class](py::object self, py::object excinfo) -> py::object {
            py::object remembered = py::getattr(self, step_failure_attr, py::none());
            if (!remembered.is_none() &&
                py::tuple(remembered)[0].ptr() == py::object(excinfo.attr("value")).ptr()) {
                // Reported once; drop the error so its frames are freed.
                forget_step_failure(self);
                return report(self, excinfo, py::tuple(remembered));
            }
            // Failures outside the steps read best as pytest shows them.
            return function_class.attr("repr_failure")(self, excinfo);
        },
        "repr_failure", py::arg("self"), py::arg("excinfo"));
    ns["function"] = case_function_property();
    ns[kBrokenCaseAttr] = py::none();
    ns["setup"] = method(
        [function_class](py::object self) {
            py::object problem = py::getattr(self, kBrokenCaseAttr, py::none());
            if (!problem.is_none()) {
                py::module_::import("pytest").attr("fail")(problem, py::arg("pytrace") = false);
            }
            function_class.attr("setup")(self);
        },
        "setup", py::arg("self"));
    return make_class(module, name, py::make_tuple(function_class), ns, doc);
}

} // namespace lumox::py_helpers

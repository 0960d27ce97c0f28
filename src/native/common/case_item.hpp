// pytest items for test cases that live in data files (YAML documents, workbook sheets).
//
// Each case is a pytest.Function whose test object is a callable asking for the `request`
// fixture, so pytest's own fixture machinery (usefixtures, autouse, scopes) and mark
// handling (skip, xfail) apply unchanged.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::py_helpers {

namespace py = pybind11;

// Creates the class `name` of test objects in `module`: calling an instance with the
// case's fixture request runs `run(request.node)`. An instance carries its marks in its
// __dict__ (`pytestmark`, where pytest reads those of a decorated test function) and a
// code object placed in its file, which pytest uses to locate the test (fixture errors,
// traceback trimming); the code object sits in a slot, so that `-k code` does not match
// every case.
py::object define_case_object_class(py::module_ &module, const char *name,
                                    void (*run)(py::object item), const char *doc);

// A new test object of `case_class`, placed at line `line` (1-based) of the file `path`.
py::object new_case_object(py::handle case_class, py::handle path, py::ssize_t line);

// Makes the items of one case file. pytest works out the fixtures a test needs from its
// arguments, its usefixtures marks and the autouse fixtures of its place; every case of a
// file asks for `request` at the same place, so the cases without a usefixtures mark of
// their own share what the first of them found, as pytest's parametrized tests share
// their function's.
class CaseItemMaker {
public:
    CaseItemMaker(py::handle item_class, py::handle file_node)
        : item_class_(py::reinterpret_borrow<py::object>(item_class)),
          file_node_(py::reinterpret_borrow<py::object>(file_node)) {}

    // The item `name` of the file running `test_object`, whose own marks are `marks`.
    py::object make(const py::str &name, const py::object &test_object, py::handle marks);

    // The test object of the file's cases that have no marks of their own: one object of
    // `case_class` for all of them, since pytest finds nothing on it that tells them apart
    // (each item knows its own place). A case's object is a tracked object of the
    // session, with a __dict__ and a code object: 10,000 cases kept 30,000.
    py::object unmarked_test_object(py::handle case_class);

private:
    void give_run_fields(py::handle item);

    py::object item_class_;
    py::object file_node_;
    py::object shared_fixture_info_;
    py::object shared_test_object_;
    py::object run_fields_;
};

// An item whose case could not be read holds its problem under this name: the problem is
// the error of the item's setup (ERROR in pytest's summary), and the file's other cases run.
inline constexpr const char *kBrokenCaseAttr = "_lumox_broken";

// Creates the item class `name` (a pytest.Function) of a case runner: `runtest` runs
// `run(item)`, `reportinfo` is `reportinfo(item)`, and a failure that `run` remembered with
// `remember_step_failure` is reported by `report(item, excinfo, record)`; other failures
// (fixture setup, teardown) are shown as pytest shows them. `fields` are class-level
// defaults of the item (e.g. current_step = None).
py::object
define_case_item_class(py::module_ &module, const char *name, const char *doc,
                       void (*run)(py::object item), py::object (*reportinfo)(py::object item),
                       py::object (*report)(py::object item, py::object excinfo, py::tuple record),
                       py::dict fields);

// Remembers the failure of a step on its item until repr_failure reports it: the record is
// (error, *details). Skips and xfails are reported without repr_failure: not remembered.
void remember_step_failure(py::handle item, py::error_already_set &error, py::tuple details);

// Forgets a remembered failure (at the start of a run).
void forget_step_failure(py::handle item);

// A property for the item class's `function`: pytest tools that locate a test's function
// (--fixtures-per-test) need a real function; this one is empty and placed where the
// item's `reportinfo` places the case.
py::object case_function_property();

} // namespace lumox::py_helpers

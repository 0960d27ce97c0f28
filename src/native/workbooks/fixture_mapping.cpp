#include "fixture_mapping.hpp"

#include "native/common/pyclass.hpp"

#include <string>

namespace lumox::workbooks {

namespace {

using lumox::py_helpers::make_class;
using lumox::py_helpers::method;

py::object *mapping_class = nullptr; // FixtureMapping, kept for the process

void init_mapping(py::object self, py::object request) {
    self.attr("_request") = request;
    self.attr("_values") = py::dict();
}

[[noreturn]] void raise_key_error(py::handle name) {
    py::object error = py::module_::import("builtins").attr("KeyError")(name);
    PyErr_SetObject(PyExc_KeyError, error.ptr());
    throw py::error_already_set();
}

py::object get_fixture(py::object self, py::object name) {
    py::dict values = self.attr("_values");
    if (values.contains(name)) {
        return values[name];
    }
    if (!PyUnicode_Check(name.ptr())) {
        raise_key_error(name);
    }
    py::object value;
    try {
        value = self.attr("_request").attr("getfixturevalue")(name);
    } catch (py::error_already_set &error) {
        // No fixture of that name: a missing key, as a mapping says it. A fixture that is
        // there but fails, or lacks a fixture it needs itself, reports its own error.
        py::object lookup_error = py::module_::import("pytest").attr("FixtureLookupError");
        if (error.matches(lookup_error.ptr()) &&
            py::getattr(error.value(), "argname", py::none()).equal(name)) {
            raise_key_error(name);
        }
        throw;
    }
    values[name] = value;
    return value;
}

// The fixtures active for the case: those it asks for and those looked up so far.
py::object fixture_names(py::object self) {
    return py::module_::import("builtins").attr("list")(self.attr("_request").attr("fixturenames"));
}

py::object iterate(py::object self) { return fixture_names(self).attr("__iter__")(); }

py::ssize_t count(py::object self) { return py::len(fixture_names(self)); }

// Membership does not start a fixture: a name is in the mapping once it is active.
bool contains(py::object self, py::object name) {
    return self.attr("_values").contains(name) || fixture_names(self).contains(name);
}

std::string represent(py::object self) {
    return "FixtureMapping(" + py::repr(fixture_names(self)).cast<std::string>() + ")";
}

} // namespace

void define_fixture_mapping(py::module_ &module) {
    py::dict ns;
    ns["__init__"] = method(&init_mapping, "_init", py::arg("self"), py::arg("request"));
    ns["__getitem__"] = method(&get_fixture, "__getitem__", py::arg("self"), py::arg("name"));
    ns["__iter__"] = method(&iterate, "__iter__", py::arg("self"));
    ns["__len__"] = method(&count, "__len__", py::arg("self"));
    ns["__contains__"] = method(&contains, "__contains__", py::arg("self"), py::arg("name"));
    ns["__repr__"] = method(&represent, "__repr__", py::arg("self"));
    py::object mapping = py::module_::import("collections.abc").attr("Mapping");
    mapping_class = new py::object(
        make_class(module, "FixtureMapping", py::make_tuple(mapping), ns,
                   "The fixtures of a workbook case by name; a fixture starts on first lookup."));
}

py::object make_fixture_mapping(py::handle request) { return (*mapping_class)(request); }

} // namespace lumox::workbooks

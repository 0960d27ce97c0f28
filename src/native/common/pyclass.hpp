// Building ordinary Python classes from C++.
//
// Classes that testers meet must behave like classes written in Python: they can be
// subclassed, combined with multiple inheritance, derive from Python library classes
// (httpx.Client, pytest.Item, ...) and have their class-level defaults overridden per
// instance. pybind11's own class machinery gives none of that, so every such class is
// created here as a Python heap type -- `type(name, bases, namespace)` through the
// metaclass of its first base -- with C++ functions attached as methods.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace lumox::py_helpers {

namespace py = pybind11;

// Wraps a C++ callable so that it binds `self` like a `def` in a class body.
// The callable's first parameter receives the instance; annotate it as py::arg("self").
// Never name a method "__init__" through pybind11: store it under "__init__" in the
// namespace instead, with `name` set to something else (pybind11 special-cases the name).
template <typename F, typename... Extra>
py::object method(F &&f, const char *name, Extra &&...extra) {
    py::cpp_function fn(std::forward<F>(f), py::name(name), std::forward<Extra>(extra)...);
    PyObject *bound = PyInstanceMethod_New(fn.ptr());
    if (bound == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(bound);
}

// Same as `method`, for a static function stored in a class namespace.
template <typename F, typename... Extra>
py::object static_method(F &&f, const char *name, Extra &&...extra) {
    py::cpp_function fn(std::forward<F>(f), py::name(name), std::forward<Extra>(extra)...);
    return py::module_::import("builtins").attr("staticmethod")(fn);
}

// Creates the class `name` in `module` from `bases` and the namespace `ns`, through the
// most derived metaclass of the bases (so pytest node classes go through pytest's own
// metaclass). `ns` may hold methods made with `method`, plain values and properties.
py::object make_class(py::module_ &module, const char *name, py::tuple bases, py::dict ns,
                      const char *doc = nullptr);

} // namespace lumox::py_helpers

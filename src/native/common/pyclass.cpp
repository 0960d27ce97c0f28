#include "pyclass.hpp"

namespace lumox::py_helpers {

py::object make_class(py::module_ &module, const char *name, py::tuple bases, py::dict ns,
                      const char *doc) {
    ns["__module__"] = module.attr("__name__");
    ns["__qualname__"] = name;
    if (doc != nullptr) {
        ns["__doc__"] = doc;
    }
    py::object type = py::module_::import("builtins").attr("type");
    // type(name, bases, ns) itself picks the most derived metaclass of the bases and
    // runs __init_subclass__ hooks, exactly as a class statement would.
    py::object metaclass = bases.empty() ? type : type(bases[0]);
    py::object cls = metaclass(name, bases, ns);
    module.attr(name) = cls;
    return cls;
}

} // namespace lumox::py_helpers

#include "session_gc.hpp"

namespace lumox::py_helpers {

namespace {

// Kept on the config: the frozen objects are given back at its cleanup (set once, whichever
// case runner's collection starts first).
constexpr const char *thaw_registered_attr = "_lumox_gc_thaw_registered";

py::module_ gc_module() { return py::module_::import("gc"); }

} // namespace

void freeze_before_collection(py::handle session) {
    py::module_ gc = gc_module();
    py::object config = session.attr("config");
    if (!py::hasattr(config, thaw_registered_attr)) {
        config.attr("add_cleanup")(gc.attr("unfreeze"));
        config.attr(thaw_registered_attr) = true;
    }
    gc.attr("freeze")();
}

void freeze_collected_cases(py::handle session, py::handle item_class) {
    for (py::handle item : py::reinterpret_borrow<py::iterable>(session.attr("items"))) {
        if (py::isinstance(item, item_class)) {
            gc_module().attr("freeze")();
            return;
        }
    }
}

} // namespace lumox::py_helpers

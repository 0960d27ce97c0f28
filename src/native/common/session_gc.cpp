#include "session_gc.hpp"

namespace lumox::py_helpers {

namespace {

// Kept on the config: the frozen objects are given back at its cleanup (registered once,
// by whichever case runner is configured first).
constexpr const char *thaw_registered_attr = "_lumox_gc_thaw_registered";

py::module_ gc_module() { return py::module_::import("gc"); }

} // namespace

void thaw_at_cleanup(py::handle config) {
    if (!py::hasattr(config, thaw_registered_attr)) {
        config.attr("add_cleanup")(gc_module().attr("unfreeze"));
        config.attr(thaw_registered_attr) = true;
    }
}

void freeze_before_collection() { gc_module().attr("freeze")(); }

void freeze_collected_cases(py::handle session, py::handle item_class) {
    for (py::handle item : py::reinterpret_borrow<py::iterable>(session.attr("items"))) {
        if (py::isinstance(item, item_class)) {
            gc_module().attr("freeze")();
            return;
        }
    }
}

} // namespace lumox::py_helpers

#include "session_gc.hpp"

namespace lumox::py_helpers {

namespace {

// Kept on the config: the frozen objects are given back at its cleanup (registered once,
// by whichever case runner is configured first).
constexpr const char *thaw_registered_attr = "_lumox_gc_thaw_registered";

py::module_ gc_module() { return py::module_::import("gc"); }

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

} // namespace

void define_session_gc_functions(py::module_ &module, py::handle item_class) {
    module.def("thaw_at_cleanup", &thaw_at_cleanup, py::arg("config"),
               "Gives the objects frozen during the run back to the cyclic garbage collector "
               "when `config` is cleaned up.");
    module.def("freeze_before_collection", &freeze_before_collection,
               "Moves what exists before the session's collection out of the cyclic garbage "
               "collector's reach.");
    module.def(
        "freeze_collected_cases",
        [item_class = py::reinterpret_borrow<py::object>(item_class)](py::handle session) {
            freeze_collected_cases(session, item_class);
        },
        py::arg("session"),
        "Does the same for what the collection made, when the session holds cases of "
        "this runner.");
}

} // namespace lumox::py_helpers

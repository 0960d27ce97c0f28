// The cyclic garbage collector during collection. The cases of a session and their items,
// like the plug-ins and conftest files loaded before them, live until the session ends,
// and every collector pass that reaches the oldest generation walks all of them again:
// pytest's own full pass at the end of the run walked 10,000 YAML cases in about 0.07 s.
#pragma once

#include <pybind11/pybind11.h>

namespace lumox::py_helpers {

namespace py = pybind11;

// Pauses the collector while a case file is read: what is made then (cases and their
// items) lives as long as the session, and every pass on the way would walk all the items
// of the files read so far. The previous state comes back at the end.
class GcPause {
public:
    GcPause() : was_enabled_(PyGC_Disable() != 0) {}
    ~GcPause() {
        if (was_enabled_) {
            PyGC_Enable();
        }
    }
    GcPause(const GcPause &) = delete;
    GcPause &operator=(const GcPause &) = delete;

private:
    bool was_enabled_;
};

// Adds to a case runner's `module`, whose items are of `item_class`:
// - thaw_at_cleanup(config): gives what the freezes froze back to the collector when
//   `config` is cleaned up, registered once whichever runner asks first. Called from the
//   runner's first pytest_configure: registered before pytest's own cleanups, it runs after
//   them, so that their garbage collection pass walks nothing frozen.
// - freeze_before_collection(): moves every object that exists into the collector's
//   permanent generation (gc.freeze), where no pass looks.
// - freeze_collected_cases(session): freezes what the collection made as well, once the
//   session holds an item of `item_class`. In a session of Python tests alone, what their
//   collection made stays within the collector's reach.
void define_session_gc_functions(py::module_ &module, py::handle item_class);

} // namespace lumox::py_helpers

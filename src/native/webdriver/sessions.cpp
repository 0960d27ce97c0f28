#include "sessions.hpp"

#include "native/common/pyclass.hpp"

namespace lumox::webdriver {

namespace {

void remove_profile_dir(py::handle session) {
    py::object dir = py::getattr(session, kProfileDirAttr, py::none());
    if (!dir.is_none()) {
        py::module_::import("shutil").attr("rmtree")(dir, py::arg("ignore_errors") = true);
        py::setattr(session, kProfileDirAttr, py::none());
    }
}

// pdb at the line that called debugger(), with pytest's output capture lifted (pytest
// replaces pdb.set_trace with its own that does so). Returns when the tester continues.
void debugger(py::object /*self*/) {
    py::module_::import("pdb").attr("set_trace")(
        py::arg("header") = "lumox debugger: the browser stays open; inspect it through the "
                            "test's variables, type 'c' to continue the test");
}

} // namespace

py::object session_class(const char *name, py::object base) {
    py::module_ module = py::module_::import("lumox.webdriver");
    if (py::hasattr(module, name)) {
        return module.attr(name);
    }
    py::dict ns;
    ns["debugger"] = py_helpers::method(&debugger, "debugger", py::arg("self"),
                                        "Stops the test in the Python debugger (pdb) at the line "
                                        "that called it; 'c' continues the test.");
    ns["quit"] = py_helpers::method(
        [base](py::object self) {
            try {
                base.attr("quit")(self);
            } catch (...) {
                // Only cleans up; the error goes on unchanged.
                remove_profile_dir(self);
                throw;
            }
            remove_profile_dir(self);
        },
        "quit", py::arg("self"),
        "Ends the session, stops its driver and removes its temporary profile directory.");
    return py_helpers::make_class(module, name, py::make_tuple(base), ns,
                                  "A browser session started by lumox.webdriver.get_webdriver.");
}

} // namespace lumox::webdriver

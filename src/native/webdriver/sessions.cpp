#include "sessions.hpp"

#include "native/common/errors.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

#include <string>

namespace lumox::webdriver {

namespace {

using py_helpers::to_str;

constexpr const char *kBanner =
    "lumox debugger: the browser stays open. Python with these at hand:\n"
    "  driver           the session (driver.title, driver.current_url, ...)\n"
    "  find(locator)    the element of a locator expression, e.g. find('#kw ;; CSS_SELECTOR')\n"
    "  By, Keys         selenium's locating strategies and keys\n"
    "Ctrl-D or exit() leaves the prompt and the test goes on.";

constexpr const char *kNoTerminal =
    "debugger(): standard input is not a terminal (CI, a pipe or a redirected input), so no "
    "prompt opens and the test goes on; run pytest from a terminal to use the debugger";

const py_helpers::Logger &logger() { return py_helpers::get_logger("lumox.webdriver"); }

// The configs of the pytest runs in progress, innermost last (pytester nests runs).
py::list &run_configs() {
    static py::list *configs = new py::list(); // lives for the process
    return *configs;
}

void run_started(py::object config) { run_configs().append(config); }

void run_ended(py::object config) {
    py::list &configs = run_configs();
    for (py::ssize_t i = py::len(configs) - 1; i >= 0; --i) {
        if (configs[i].ptr() == config.ptr()) {
            configs.attr("pop")(i);
            return;
        }
    }
}

// pytest's capture manager of the innermost run, or None outside a pytest run.
py::object capture_manager() {
    py::list &configs = run_configs();
    if (py::len(configs) == 0) {
        return py::none();
    }
    py::object config = configs[py::len(configs) - 1];
    return config.attr("pluginmanager").attr("getplugin")("capturemanager");
}

bool stdin_is_terminal() {
    py::object stdin = py::module_::import("sys").attr("stdin");
    if (stdin.is_none()) {
        return false;
    }
    try {
        return py::bool_(stdin.attr("isatty")());
    } catch (py::error_already_set &error) {
        // A closed or detached stream is no terminal either.
        if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_OSError)) {
            throw;
        }
        return false;
    }
}

// find(locator) of the prompt: the element a locator expression names, right now.
py::object finder(py::object driver) {
    return py::cpp_function(
        [driver](py::object locator) -> py::object {
            py::object loc =
                py::module_::import("lumox.actlib_utils").attr("LumoxLocator")(locator);
            py::list found(driver.attr("find_elements")(loc.attr("by"), loc.attr("value")));
            const auto index = loc.attr("index").cast<size_t>();
            if (found.size() <= index) {
                py_helpers::raise_error(PyExc_LookupError, std::to_string(found.size()) +
                                                               " element(s) match " + to_str(loc) +
                                                               ": none at index " +
                                                               std::to_string(index));
            }
            return found[index];
        },
        py::name("find"), py::arg("locator"));
}

void interact(py::object driver) {
    if (!stdin_is_terminal()) {
        logger().warning(kNoTerminal);
        return;
    }
    py::dict names;
    names["driver"] = driver;
    names["find"] = finder(driver);
    names["By"] = py::module_::import("selenium.webdriver.common.by").attr("By");
    names["Keys"] = py::module_::import("selenium.webdriver.common.keys").attr("Keys");
    py::object console = py::module_::import("code").attr("InteractiveConsole")(names);
    try {
        console.attr("interact")(py::arg("banner") = kBanner,
                                 py::arg("exitmsg") = "lumox debugger: back to the test");
    } catch (py::error_already_set &error) {
        // exit() and quit() at the prompt mean "leave the prompt", not "end the run".
        if (!error.matches(PyExc_SystemExit)) {
            throw;
        }
    }
}

void debugger(py::object driver) {
    // pytest's capture, standard input included, is lifted while the prompt is open, as
    // pytest does for pdb.
    py::object capman = capture_manager();
    if (!capman.is_none()) {
        capman.attr("suspend")(py::arg("in_") = true);
    }
    try {
        interact(driver);
    } catch (py::error_already_set &) {
        if (!capman.is_none()) {
            capman.attr("resume")();
        }
        throw;
    }
    if (!capman.is_none()) {
        capman.attr("resume")();
    }
}

void remove_profile_dir(py::handle session) {
    py::object dir = py::getattr(session, kProfileDirAttr, py::none());
    if (!dir.is_none()) {
        // A browser profile is thousands of files: deleting it took a quarter of a second of
        // the case. A thread of its own deletes it; Python waits for it before it exits.
        py::dict arguments;
        arguments["ignore_errors"] = true;
        py::module_::import("threading")
            .attr("Thread")(py::arg("target") = py::module_::import("shutil").attr("rmtree"),
                            py::arg("args") = py::make_tuple(dir), py::arg("kwargs") = arguments,
                            py::arg("name") = "lumox-profile-removal")
            .attr("start")();
        py::setattr(session, kProfileDirAttr, py::none());
    }
}

} // namespace

void define_debugger(py::module_ &module) {
    module.def("debugger", &debugger, py::arg("driver"),
               "An interactive Python prompt with `driver`, `find`, `By` and `Keys` at hand, "
               "pytest's capture lifted; returns when the tester leaves it. Without a terminal "
               "on standard input it logs a warning and returns at once.");
    module.def("run_started", &run_started, py::arg("config"),
               "Called by the plug-in when a pytest run is configured.");
    module.def("run_ended", &run_ended, py::arg("config"),
               "Called by the plug-in when a pytest run ends.");
}

py::object session_class(const char *name, py::object base) {
    py::module_ module = py::module_::import("lumox.webdriver");
    if (py::hasattr(module, name)) {
        return module.attr(name);
    }
    py::dict ns;
    ns["debugger"] = py_helpers::method(&debugger, "debugger", py::arg("self"),
                                        "An interactive prompt with this session as `driver`; "
                                        "returns when the tester leaves it (at once, with a "
                                        "warning, when there is no terminal).");
    ns["quit"] = py_helpers::method(
        [base](py::object self) {
            try {
                base.attr("quit")(self);
            } catch (...) {
                // Only cleans up; the error goes on unchanged.
                remove_profile_dir(self);
                forget_remote_session(self);
                throw;
            }
            remove_profile_dir(self);
            forget_remote_session(self);
        },
        "quit", py::arg("self"),
        "Ends the session, stops its driver and removes its temporary profile directory.");
    return py_helpers::make_class(module, name, py::make_tuple(base), ns,
                                  "A browser session started by lumox.webdriver.get_webdriver.");
}

} // namespace lumox::webdriver

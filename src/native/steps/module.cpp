// lumox.steps: the step runner behind the pytest plug-in lumox._plugin -- the run-wide
// HTTP client and variable store, the YAML step hook and the run-end save.
#include "http_client.hpp"
#include "native/common/truthy.hpp"
#include "run_config.hpp"
#include "step_runner.hpp"

#include "native/common/module_init.hpp"
#include "native/common/errors.hpp"
#include "native/common/pylog.hpp"

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace {

// Variables saved by an earlier run become template globals again, so a later run can
// use them as {{ name }}.
void load_saved_variables(py::handle exchanger) {
    py::dict saved(py::module_::import("builtins").attr("dict")(exchanger.attr("file")));
    py::dict variables;
    for (auto [name, value] : saved) {
        if (py::isinstance<py::str>(name)) {
            variables[name] = value;
        }
    }
    py::module_::import("lumox.templates").attr("add_globals")(**variables);
}

// The run-wide objects are made on first use, so that loading the plug-in costs no HTTP
// client (nor httpx, its SSL context, Jinja2 or the variables file) in a run that never
// needs them.
py::object lazy_attribute(const std::string &name) {
    py::module_ steps = py::module_::import("lumox.steps");
    py::module_ settings = py::module_::import("lumox.settings");
    py::object made;
    if (name == "HTTPClient") {
        made = lumox::steps::define_http_client(steps);
    } else if (name == "client") {
        made = steps.attr("HTTPClient")(py::arg("base_url") =
                                            settings.attr("lumox_api").attr("base_url"));
    } else if (name == "exchanger") {
        py::object vars_file = settings.attr("lumox").attr("vars_file");
        const bool has_vars_file = lumox::py_helpers::truthy(vars_file);
        made = py::module_::import("lumox.exchange")
                   .attr("Exchange")(has_vars_file ? vars_file : py::str(""));
        if (has_vars_file) {
            load_saved_variables(made);
        }
    } else {
        throw py::attribute_error("module 'lumox.steps' has no attribute '" + name + "'");
    }
    steps.attr(name.c_str()) = made;
    return made;
}

} // namespace

PYBIND11_MODULE(steps, m) {
    using lumox::py_helpers::get_logger;
    m.doc() = "Step runner of the lumox pytest plug-in: HTTPClient, the run-wide client and "
              "variable store (made on first use), the YAML step hook body and the run-end "
              "save.";

    m.attr("logger") = get_logger("lumox._plugin").object();
    m.attr("http_logger") = get_logger("lumox.http").object();

    // Settings are read here: their errors must name the bad value.
    lumox::py_helpers::init_module([&] { py::module_::import("lumox.settings"); });
    m.attr("__getattr__") = py::cpp_function(&lazy_attribute, py::arg("name"));

    m.def(
        "load_saved_variables",
        [] {
            py::object vars_file =
                py::module_::import("lumox.settings").attr("lumox").attr("vars_file");
            if (!lumox::py_helpers::truthy(vars_file)) {
                return;
            }
            try {
                py::object made = py::module_::import("lumox.steps").attr("exchanger");
            } catch (py::error_already_set &error) {
                // A file that cannot be read stops the run with one line that says why,
                // not with pytest's internal-error traceback.
                if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_OSError)) {
                    throw;
                }
                lumox::py_helpers::raise_from(
                    error, py::module_::import("pytest").attr("UsageError"),
                    "[lumox] vars_file: " + lumox::py_helpers::to_str(error.value()));
            }
        },
        "At the start of a run: the variables of lumox.vars_file become template globals "
        "(the variable store is made now when there is such a file). A file that cannot be "
        "read raises pytest.UsageError naming it.");
    m.def("run_step", &lumox::steps::run_step, py::arg("item"), py::arg("request"),
          "Runs one YAML step (item.current_step): its mock, request, response, extract and "
          "validate keys in the order they stand. Returns 1.");
    m.def("follow_run_config", &lumox::steps::follow_run_config, py::arg("config"),
          "At the start of a run: settings from the configuration file pytest uses "
          "(config.inipath) when that is not ./pytest.ini; the run-wide client follows.");
    m.def("leave_run_config", &lumox::steps::leave_run_config, py::arg("config"),
          "At the end of a run: the settings file used before it again.");
    m.def("save_variables", &lumox::steps::save_variables, py::arg("config") = py::none(),
          "Saves the run's variables to lumox.vars_file when lumox.vars_save is true; a "
          "failed save is logged, never raised. Each process merges the variables it changed "
          "into the file; a pytest-xdist controller (config given) only what it set itself.");
}

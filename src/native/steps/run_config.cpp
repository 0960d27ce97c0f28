#include "run_config.hpp"

#include "native/common/pylog.hpp"

#include <string>

namespace lumox::steps {

namespace {

constexpr const char *kPreviousAttr = "_lumox_previous_settings_file";

py::module_ settings() { return py::module_::import("lumox.settings"); }

void use_file(py::object path) {
    settings().attr("use_config_file")(path);
    // A client made later reads the new base address itself.
    py::dict made = py::module_::import("lumox.steps").attr("__dict__");
    if (made.contains("client")) {
        made["client"].attr("base_url") = settings().attr("lumox_api").attr("base_url");
    }
}

} // namespace

void follow_run_config(py::object config) {
    py::object inipath = py::getattr(config, "inipath", py::none());
    if (inipath.is_none()) {
        return;
    }
    // pyproject.toml is TOML: lumox's sections live in INI files only.
    const std::string suffix = py_helpers::to_str(inipath.attr("suffix"));
    if (suffix != ".ini" && suffix != ".cfg") {
        return;
    }
    // Already read from that very file (where the working directory was then): nothing to do.
    const std::string read_from = py_helpers::to_str(settings().attr("config_file_read")());
    if (!read_from.empty()) {
        py::object path = py::module_::import("pathlib").attr("Path");
        if (path(read_from).attr("resolve")().equal(inipath.attr("resolve")())) {
            return;
        }
    }
    py::setattr(config, kPreviousAttr, settings().attr("config_file")());
    use_file(py::str(inipath));
    py_helpers::get_logger("lumox.settings")
        .info("settings read from " + py_helpers::to_str(inipath) + ", the file pytest uses");
}

void leave_run_config(py::object config) {
    py::object previous = py::getattr(config, kPreviousAttr, py::none());
    if (!previous.is_none()) {
        py::delattr(config, kPreviousAttr);
        use_file(previous);
    }
}

} // namespace lumox::steps

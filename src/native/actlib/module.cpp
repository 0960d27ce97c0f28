// lumox.actlib: the keyword libraries (API, Web, App), their union KeyWord, and the
// choice of a library by its type name.
#include "api_keywords.hpp"
#include "app_keywords.hpp"
#include "web_keywords.hpp"

#include "native/common/errors.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace py = pybind11;

namespace {

using lumox::py_helpers::make_class;
using lumox::py_helpers::to_str;

py::object get_class_by_type(py::object kw_type) {
    if (!py::isinstance<py::str>(kw_type)) {
        lumox::py_helpers::raise_argument_type("get_class_by_type()", "kw_type", "str", kw_type);
    }
    const std::string name = to_str(kw_type.attr("lower")());
    py::module_ actlib = py::module_::import("lumox.actlib");
    if (name == "api") {
        return actlib.attr("ApiKeyWord");
    }
    if (name == "web") {
        return actlib.attr("WebKeyWord");
    }
    if (name == "app") {
        return actlib.attr("AppKeyWord");
    }
    return actlib.attr("KeyWord");
}

} // namespace

PYBIND11_MODULE(actlib, m) {
    m.doc() = "Keyword libraries: ApiKeyWord, WebKeyWord, AppKeyWord and their union KeyWord.";
    m.attr("logger") = lumox::py_helpers::get_logger("lumox.actlib").object();

    py::module_ settings = py::module_::import("lumox.settings");
    m.attr("settings") = settings;
    for (const char *name : {"DriverEnum", "HttpUrl", "NotSetEnum"}) {
        m.attr(name) = settings.attr(name);
    }
    py::module_ utils = py::module_::import("lumox.actlib_utils");
    for (const char *name : {"BaseKeyWord", "MockRequest", "MyActionChains"}) {
        m.attr(name) = utils.attr(name);
    }

    // Parameter defaults fixed at load: later changes of the settings do not move them.
    py::object ui = settings.attr("lumox_ui");
    m.attr("DEFAULT_BROWSER") = ui.attr("driver_type");
    m.attr("DEFAULT_HUB") = ui.attr("selenium_grid");
    m.attr("DEFAULT_FORCE_CLICK") = ui.attr("force_click");

    py::object base = utils.attr("BaseKeyWord");
    py::object web = lumox::actlib::define_web_keyword(m, base);
    py::object app = lumox::actlib::define_app_keyword(m, base);
    py::object api = lumox::actlib::define_api_keyword(m, base);
    // No constructor of its own: ApiKeyWord's, so a KeyWord object opens an HTTP client.
    make_class(m, "KeyWord", py::make_tuple(web, app, api), py::dict(),
               "All keyword libraries in one: Web, App and API keywords.");

    m.def("get_class_by_type", &get_class_by_type, py::arg("kw_type") = "all",
          "The keyword class for a library type name, any case: \"api\" -> ApiKeyWord, "
          "\"web\" -> WebKeyWord, \"app\" -> AppKeyWord, anything else -> KeyWord.");
}

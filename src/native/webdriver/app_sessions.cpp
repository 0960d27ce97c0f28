#include "app_sessions.hpp"

#include "remote.hpp"
#include "sessions.hpp"

#include "core/app_capabilities.hpp"
#include "native/common/errors.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

namespace lumox::webdriver {

namespace {

using py_helpers::to_str;

py::module_ appium_client() {
    try {
        return py::module_::import("appium.webdriver");
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ImportError)) {
            throw;
        }
        py_helpers::raise_from(error, PyExc_RuntimeError,
                               "app sessions need the Appium Python client, which is not "
                               "installed: pip install 'Appium-Python-Client>=6'");
    }
}

py::dict session_capabilities(const std::string &platform, py::handle capabilities) {
    py::dict sent;
    sent["platformName"] = platform;
    if (capabilities.is_none()) {
        return sent;
    }
    for (auto [name, value] : py::reinterpret_borrow<py::dict>(capabilities)) {
        sent[py::str(core::appium_capability_name(to_str(name)))] = value;
    }
    return sent;
}

} // namespace

py::object app_session(const std::string &platform, const Hub &server, py::object capabilities) {
    py::module_ client = appium_client();
    py::dict sent = session_capabilities(platform, capabilities);
    py::object options = py::module_::import("appium.options.common").attr("AppiumOptions")();
    options.attr("load_capabilities")(sent);
    py::object cls = session_class("AppSession", client.attr("Remote"));
    try {
        return open_remote_session(
            server, cls, options,
            py::module_::import("appium.webdriver.client_config").attr("AppiumClientConfig"));
    } catch (py::error_already_set &error) {
        if (!error.matches(
                py::module_::import("selenium.common.exceptions").attr("WebDriverException"))) {
            throw;
        }
        py_helpers::add_note(error, "the Appium server " + server.address +
                                        " did not start the session; capabilities sent: " +
                                        to_str(py::module_::import("json").attr("dumps")(
                                            sent, py::arg("ensure_ascii") = false)));
        throw error;
    }
}

} // namespace lumox::webdriver

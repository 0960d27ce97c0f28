#include "driver_session.hpp"

#include "native/common/errors.hpp"

#include <cmath>
#include <cstdio>
#include <string>

namespace lumox::actlib {

py::object driver_of(const py_helpers::KeywordArgs &call) {
    py::object driver = call.self.attr("driver");
    if (driver.is_none()) {
        py_helpers::raise_error(
            PyExc_RuntimeError,
            "no driver session yet: start one with new_driver (a browser, or an app with "
            "android or ios and the Appium server as hub), or take one from a fixture with "
            "set_driver, first");
    }
    return driver;
}

py::object find(const py_helpers::KeywordArgs &call, py::handle locator) {
    driver_of(call);
    return call.self.attr("find_element")(locator);
}

bool is_app_session(py::handle driver) {
    return !driver.attr("capabilities").contains("browserName");
}

bool element_went_away(py::error_already_set &error, bool app_session) {
    py::module_ exceptions = py::module_::import("selenium.common.exceptions");
    return error.matches(exceptions.attr("StaleElementReferenceException")) ||
           error.matches(exceptions.attr("ElementNotInteractableException")) ||
           (app_session && error.matches(exceptions.attr("InvalidElementStateException")));
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

void gave_up_on_element(py::error_already_set &error) {
    py_helpers::add_note(error, "tried again for " + seconds_text(wait_seconds()) +
                                    " s (lumox_ui.wait_max): the element kept being replaced, "
                                    "or refused the action (not on screen, not editable)");
    throw error;
}

double monotonic_seconds() {
    return py::float_(py::module_::import("time").attr("monotonic")()).cast<double>();
}

double wait_seconds() {
    return py::float_(py::module_::import("lumox.settings").attr("lumox_ui").attr("wait_max"))
        .cast<double>();
}

void pause_one_poll() {
    py::module_::import("time").attr("sleep")(
        py::module_::import("lumox.settings").attr("lumox_ui").attr("wait_poll"));
}

std::optional<double> seconds_of(py::handle value) {
    if (PyBool_Check(value.ptr())) {
        return std::nullopt;
    }
    double number = NAN;
    try {
        number = py::float_(py::module_::import("builtins").attr("float")(value));
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) {
            throw;
        }
    }
    if (!std::isfinite(number) || number < 0) {
        return std::nullopt;
    }
    return number;
}

} // namespace lumox::actlib

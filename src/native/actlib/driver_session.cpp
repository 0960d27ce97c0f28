#include "driver_session.hpp"

#include "shared.hpp"

#include "core/ascii_text.hpp"

#include "native/common/errors.hpp"
#include "native/common/step.hpp"
#include "native/common/truthy.hpp"

#include <algorithm>
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

Matches matches_now(const py_helpers::KeywordArgs &call, py::handle locator) {
    py::object driver = driver_of(call);
    py::object parsed = py::module_::import("lumox.actlib_utils").attr("LumoxLocator")(locator);
    py::object root = driver;
    py::object active = call.self.attr("_activate_ele");
    if (py_helpers::to_str(parsed.attr("value")).rfind("./", 0) == 0 &&
        py_helpers::truthy(active)) {
        root = active;
    }
    return {parsed, py::list(root.attr("find_elements")(parsed.attr("by"), parsed.attr("value")))};
}

std::string one_of(const py_helpers::KeywordArgs &call, const char *keyword, const char *param,
                   const std::vector<std::string> &allowed) {
    py::object value = call[param];
    const std::string given =
        value.is_none() ? std::string()
                        : core::lower_ascii(core::strip_blanks(py_helpers::to_str(py::str(value))));
    if (given.empty()) {
        return allowed.front();
    }
    if (std::find(allowed.begin(), allowed.end(), given) != allowed.end()) {
        return given;
    }
    std::string names;
    for (const std::string &name : allowed) {
        names += (names.empty() ? "" : ", ") + name;
    }
    py_helpers::raise_error(PyExc_ValueError, std::string(keyword) + ": " + param +
                                                  " must be one of " + names + ", not " +
                                                  py_helpers::to_repr(value));
}

py::object page_url(py::object url) {
    py::module_ parse = py::module_::import("urllib.parse");
    if (!py_helpers::to_str(parse.attr("urlsplit")(url).attr("scheme")).empty()) {
        return url;
    }
    py::object base = py::module_::import("lumox.settings").attr("lumox_api").attr("base_url");
    if (!py_helpers::truthy(base)) {
        return url;
    }
    return parse.attr("urljoin")(base, url);
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

py::object wait_of(const py_helpers::KeywordArgs &call) {
    py::object wait = call.self.attr("wait");
    if (wait.is_none()) {
        driver_of(call);
        py_helpers::raise_error(PyExc_RuntimeError,
                                "the keyword object has a driver but no element wait: start the "
                                "session with new_driver or set_driver");
    }
    return wait;
}

std::string waited(py::handle wait) {
    return "after " + py_helpers::to_str(py::getattr(wait, "_timeout", py::str("?"))) +
           " s (lumox_ui.wait_max)";
}

py::object ready_element(const py_helpers::KeywordArgs &call, py::handle locator) {
    py::object self = call.self;
    py::object element = find(call, locator);
    wait_until(
        call, [self, element]() -> py::object { return self.attr("can_interactive")(element); },
        "element " + py_helpers::to_str(locator) +
            " was found but never became usable (displayed, enabled, not read-only)");
    return element;
}

void act_on_ready(const py_helpers::KeywordArgs &call, const std::string &announce,
                  const std::function<void(py::object)> &action) {
    py::object locator = call["locator"];
    on_fresh_element([&] { return ready_element(call, locator); },
                     [&](py::object element) {
                         actlib_log().info(announce + py_helpers::to_str(element.attr("id")));
                         py_helpers::in_step("操作元素", py::dict(), [&] { action(element); });
                         return py::object(py::none());
                     },
                     is_app_session(driver_of(call)));
}

} // namespace lumox::actlib

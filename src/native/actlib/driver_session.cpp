#include "driver_session.hpp"

#include "native/common/errors.hpp"

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

} // namespace lumox::actlib

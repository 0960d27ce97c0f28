#include "page_evidence.hpp"

#include "native/common/pylog.hpp"

#include <string>

namespace lumox::workbooks {

namespace {

// Runs `read`; an ordinary error (no browser any more, a dialog in the way) gives None.
template <typename F> py::object tolerant(const char *what, F read) {
    try {
        return read();
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        py_helpers::get_logger("lumox.workbooks")
            .debug(std::string("could not read the page's ") + what +
                   " for the failure report: " + py_helpers::to_str(error.value()));
        return py::none();
    }
}

} // namespace

py::object capture_page(py::handle keyword_object) {
    py::object driver = py::getattr(keyword_object, "driver", py::none());
    if (driver.is_none() ||
        !py::isinstance(driver, py::module_::import("selenium.webdriver.remote.webdriver")
                                    .attr("WebDriver"))) {
        return py::none();
    }
    py::module_ allure = py::module_::import("allure");
    py::object attach = allure.attr("attach");
    py::object types = allure.attr("attachment_type");
    tolerant("screenshot", [&] {
        py::object png = driver.attr("get_screenshot_as_png")();
        attach(png, py::arg("name") = "screenshot", py::arg("attachment_type") = types.attr("PNG"));
        return py::object(py::none());
    });
    // An app on a device has no URL or title; the screen's element tree tells what was
    // shown instead.
    const bool browser = tolerant("capabilities", [&] {
                             return py::object(py::bool_(
                                 driver.attr("capabilities").contains("browserName")));
                         }).equal(py::bool_(true));
    if (!browser) {
        tolerant("page source", [&] {
            attach(driver.attr("page_source"), py::arg("name") = "page source",
                   py::arg("attachment_type") = types.attr("XML"));
            return py::object(py::none());
        });
        return py::make_tuple(py::none(), py::none());
    }
    py::object url = tolerant("URL", [&] { return py::object(driver.attr("current_url")); });
    py::object title = tolerant("title", [&] { return py::object(driver.attr("title")); });
    for (auto [name, value] : {std::pair{"URL", url}, std::pair{"title", title}}) {
        if (!value.is_none()) {
            tolerant(name, [&] {
                attach(py::str(value), py::arg("name") = name,
                       py::arg("attachment_type") = types.attr("TEXT"));
                return py::object(py::none());
            });
        }
    }
    return py::make_tuple(url, title);
}

} // namespace lumox::workbooks

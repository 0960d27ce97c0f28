#include "page_evidence.hpp"

#include "native/common/pylog.hpp"

#include <string>

namespace lumox::workbooks {

namespace {

// Runs `read`; an ordinary error (no browser any more, a dialog in the way) gives None.
template <typename F>
py::object tolerant(const char *what, F read) {
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
        !py::isinstance(
            driver, py::module_::import("selenium.webdriver.remote.webdriver").attr("WebDriver"))) {
        return py::none();
    }
    py::module_ allure = py::module_::import("allure");
    py::object attach = allure.attr("attach");
    py::object types = allure.attr("attachment_type");
    auto attach_text = [&](const char *name, py::object text, const char *type) {
        if (!text.is_none()) {
            tolerant(name, [&] {
                attach(py::str(text), py::arg("name") = name,
                       py::arg("attachment_type") = types.attr(type));
                return py::object(py::none());
            });
        }
    };
    tolerant("screenshot", [&] {
        py::object png = driver.attr("get_screenshot_as_png")();
        attach(png, py::arg("name") = "screenshot", py::arg("attachment_type") = types.attr("PNG"));
        return py::object(py::none());
    });
    py::list lines;
    const bool browser =
        tolerant("capabilities", [&] {
            return py::object(py::bool_(driver.attr("capabilities").contains("browserName")));
        }).equal(py::bool_(true));
    if (!browser) {
        // An app on a device has no URL or title; its element tree tells what it showed.
        attach_text("page source",
                    tolerant("page source", [&] { return py::object(driver.attr("page_source")); }),
                    "XML");
        py::object context =
            tolerant("context", [&] { return py::object(driver.attr("current_context")); });
        lines.append("context:   " + (context.is_none() ? std::string("(unreadable)")
                                                        : py_helpers::to_str(context)));
        lines.append(
            "(the report step of the row has the screenshot and the page source attached)");
        return lines;
    }
    py::object url = tolerant("URL", [&] { return py::object(driver.attr("current_url")); });
    py::object title = tolerant("title", [&] { return py::object(driver.attr("title")); });
    attach_text("URL", url, "TEXT");
    attach_text("title", title, "TEXT");
    lines.append("page:      " +
                 (url.is_none() ? std::string("(URL unreadable)") : py_helpers::to_str(url)));
    lines.append("title:     " +
                 (title.is_none() ? std::string("(unreadable)") : py_helpers::to_repr(title)));
    lines.append("(the report step of the row has the screenshot, URL and title attached)");
    return lines;
}

void attach_driver_stack(py::handle error) {
    const std::string text = py_helpers::to_str(error);
    if (text.find("\nStacktrace:\n") == std::string::npos) {
        return;
    }
    py::module_ allure = py::module_::import("allure");
    tolerant("driver error", [&] {
        py::object text_type = allure.attr("attachment_type").attr("TEXT");
        allure.attr("attach")(py::str(text), py::arg("name") = "driver error",
                              py::arg("attachment_type") = text_type);
        return py::object(py::none());
    });
}

} // namespace lumox::workbooks

// lumox.webdriver: the WebDriver factory behind the browser fixtures and the Web
// keywords. Local sessions use the drivers installed on the machine (never downloaded),
// remote ones a Selenium Grid hub.
#include "sessions.hpp"

#include "core/ascii_text.hpp"
#include "core/browser_setup.hpp"
#include "native/common/pylog.hpp"

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace py = pybind11;
using lumox::core::BrowserKind;
using lumox::py_helpers::to_str;

namespace {

[[noreturn]] void throw_python_error(PyObject *type, const std::string &message) {
    py::set_error(type, message.c_str());
    throw py::error_already_set();
}

std::string env_value(const char *name) {
    py::object value = py::module_::import("os").attr("environ").attr("get")(name, "");
    return value.cast<std::string>();
}

// A text setting, or nothing when it is empty, None or the settings' "not set" marker.
std::optional<std::string> text_setting(py::handle value, py::handle settings) {
    if (value.is_none()) {
        return std::nullopt;
    }
    if (py::hasattr(settings, "NotSetEnum") && py::isinstance(value, settings.attr("NotSetEnum"))) {
        return std::nullopt;
    }
    std::string text = to_str(value);
    if (lumox::core::strip_blanks(text).empty()) {
        return std::nullopt;
    }
    return text;
}

// DriverEnum members and plain text both name the kind.
BrowserKind browser_kind(py::handle value) {
    py::object text = py::reinterpret_borrow<py::object>(value);
    if (py::isinstance(value, py::module_::import("enum").attr("Enum"))) {
        py::object member_value = value.attr("value");
        text = py::isinstance<py::str>(member_value) ? member_value : value.attr("name");
    }
    const std::string name = to_str(text);
    if (auto kind = lumox::core::parse_browser_kind(name)) {
        return *kind;
    }
    throw_python_error(PyExc_ValueError, "unknown browser kind '" + name +
                                             "': use chrome, chromium, firefox or edge");
}

std::string locate(const lumox::core::ProgramSearch &search,
                   const std::optional<std::string> &configured) {
    auto found = lumox::core::locate_program(search, configured.value_or(""), env_value("PATH"));
    if (!found.path) {
        throw_python_error(PyExc_RuntimeError, found.error);
    }
    return *found.path;
}

struct BrowserClasses {
    const char *options;
    const char *service;
    const char *driver;
};

BrowserClasses classes_of(BrowserKind kind) {
    switch (kind) {
    case BrowserKind::Firefox:
        return {"FirefoxOptions", "FirefoxService", "Firefox"};
    case BrowserKind::Edge:
        return {"EdgeOptions", "EdgeService", "Edge"};
    case BrowserKind::Chromium:
        break;
    }
    return {"ChromeOptions", "ChromeService", "Chrome"};
}

py::object browser_options(BrowserKind kind, bool headless, const std::string &user_data_dir) {
    py::object options = py::module_::import("selenium.webdriver").attr(classes_of(kind).options)();
    auto args = kind == BrowserKind::Firefox
                    ? lumox::core::firefox_arguments(headless)
                    : lumox::core::chromium_arguments(headless, user_data_dir);
    for (const auto &arg : args) {
        options.attr("add_argument")(arg);
    }
    return options;
}

struct FactorySettings {
    std::optional<std::string> grid;
    std::optional<bool> headless; // nothing: decided by the machine
    std::optional<std::string> browser_path;
    std::optional<std::string> driver_path;
};

py::object local_session(BrowserKind kind, const FactorySettings &config) {
    // Both paths are always given to selenium, so its driver manager never runs.
    const std::string driver_path = locate(lumox::core::driver_search(kind), config.driver_path);
    const std::string browser_path = locate(lumox::core::browser_search(kind), config.browser_path);
    const bool headless = config.headless.value_or(env_value("DISPLAY").empty());

    py::object selenium = py::module_::import("selenium.webdriver");
    const BrowserClasses names = classes_of(kind);
    std::string profile_dir;
    if (kind != BrowserKind::Firefox) {
        // A fresh profile per session: sessions never share cookies, caches or locks.
        profile_dir = py::module_::import("tempfile")
                          .attr("mkdtemp")(py::arg("prefix") = "lumox-browser-")
                          .cast<std::string>();
    }
    py::object cls = lumox::webdriver::session_class(names.driver, selenium.attr(names.driver));
    py::object session;
    try {
        py::object options = browser_options(kind, headless, profile_dir);
        options.attr("binary_location") = browser_path;
        py::object service = selenium.attr(names.service)(py::arg("executable_path") = driver_path);
        session = cls(py::arg("options") = options, py::arg("service") = service);
    } catch (...) {
        // Only cleans up; the error goes on unchanged.
        if (!profile_dir.empty()) {
            py::module_::import("shutil").attr("rmtree")(profile_dir,
                                                         py::arg("ignore_errors") = true);
        }
        throw;
    }
    if (!profile_dir.empty()) {
        py::setattr(session, lumox::webdriver::kProfileDirAttr, py::str(profile_dir));
    }
    return session;
}

py::object remote_session(BrowserKind kind, const FactorySettings &config) {
    // The hub's nodes have their own display: only an explicit setting makes them headless.
    py::object options = browser_options(kind, config.headless.value_or(false), "");
    if (config.browser_path) {
        options.attr("binary_location") = *config.browser_path;
    }
    py::object selenium = py::module_::import("selenium.webdriver");
    py::object cls = lumox::webdriver::session_class("Remote", selenium.attr("Remote"));
    return cls(py::arg("command_executor") = *config.grid, py::arg("options") = options);
}

py::object get_webdriver(py::object browser) {
    py::module_ settings = py::module_::import("lumox.settings");
    py::object ui = settings.attr("lumox_ui");
    const BrowserKind kind = browser_kind(browser.is_none() ? ui.attr("driver_type") : browser);

    FactorySettings config;
    config.grid = text_setting(ui.attr("selenium_grid"), settings);
    py::object headless = ui.attr("headless");
    if (!headless.is_none()) {
        config.headless = py::bool_(headless).cast<bool>();
    }
    config.browser_path = text_setting(ui.attr("browser_path"), settings);
    config.driver_path = text_setting(ui.attr("driver_path"), settings);

    return config.grid ? remote_session(kind, config) : local_session(kind, config);
}

} // namespace

PYBIND11_MODULE(webdriver, m) {
    m.doc() = "WebDriver factory: local Chromium/Chrome, Firefox or Edge sessions through the "
              "drivers installed on the machine, or remote sessions on a Selenium Grid hub.";
    m.def("get_webdriver", &get_webdriver, py::arg("browser") = py::none(),
          "A new browser session. `browser` (chrome, chromium, firefox, edge or a DriverEnum "
          "member) defaults to lumox_ui.driver_type; lumox_ui.selenium_grid, headless, "
          "browser_path and driver_path shape the session. Sessions offer debugger().");
}

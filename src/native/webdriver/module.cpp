// lumox.webdriver: the WebDriver factory behind the browser fixtures and the Web
// keywords. Local sessions use the drivers installed on the machine (never downloaded),
// remote ones a Selenium Grid hub.
#include "app_sessions.hpp"
#include "remote.hpp"
#include "sessions.hpp"

#include "core/app_capabilities.hpp"

#include "core/ascii_text.hpp"
#include "core/browser_setup.hpp"
#include "core/notice_text.hpp"
#include "native/common/errors.hpp"
#include "native/common/pylog.hpp"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <optional>
#include <string>

namespace py = pybind11;
using lumox::core::BrowserKind;
using lumox::py_helpers::raise_error;
using lumox::py_helpers::to_repr;
using lumox::py_helpers::to_str;
using lumox::webdriver::Hub;
using lumox::webdriver::hub_of;
using lumox::webdriver::open_remote_session;
using lumox::webdriver::without_hub_password;

namespace {

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
std::string kind_name(py::handle value) {
    py::object text = py::reinterpret_borrow<py::object>(value);
    if (py::isinstance(value, py::module_::import("enum").attr("Enum"))) {
        py::object member_value = value.attr("value");
        text = py::isinstance<py::str>(member_value) ? member_value : value.attr("name");
    }
    return to_str(text);
}

BrowserKind browser_kind(const std::string &name) {
    if (auto kind = lumox::core::parse_browser_kind(name)) {
        return *kind;
    }
    raise_error(PyExc_ValueError, "unknown browser kind '" + name +
                                      "': use chrome, chromium, firefox or edge, or android or "
                                      "ios for an app on an Appium server");
}

std::string locate(const lumox::core::ProgramSearch &search,
                   const std::optional<std::string> &configured) {
    auto found = lumox::core::locate_program(search, configured.value_or(""), env_value("PATH"));
    if (!found.path) {
        raise_error(PyExc_RuntimeError, found.error);
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

// The browser's own options object ("goog:chromeOptions", ...) takes its members through
// the options' setters, since selenium rebuilds that entry from them when it sends the
// capabilities. Everything else is a capability of the session.
void merge_browser_options(py::handle options, BrowserKind kind, py::handle members) {
    const std::string key = to_str(options.attr("KEY"));
    if (!py::isinstance<py::dict>(members)) {
        raise_error(PyExc_ValueError,
                    "capabilities: '" + key + "' must be a JSON object, not " + to_repr(members));
    }
    for (auto [name, value] : py::reinterpret_borrow<py::dict>(members)) {
        const std::string member = to_str(name);
        if (member == "args") {
            // A text would be taken a character at a time ("--x" as -, -, x).
            const auto is_text = [](py::handle item) { return py::isinstance<py::str>(item); };
            if (!py::isinstance<py::list>(value) ||
                !std::all_of(value.begin(), value.end(), is_text)) {
                raise_error(PyExc_ValueError, "capabilities: '" + key +
                                                  "' member 'args' must be a JSON list of texts, "
                                                  "such as [\"--headless\"], not " +
                                                  to_repr(value));
            }
            for (py::handle arg : value) {
                options.attr("add_argument")(arg);
            }
        } else if (member == "binary") {
            options.attr("binary_location") = value;
        } else if (kind == BrowserKind::Firefox && member == "prefs") {
            for (auto [pref, pref_value] : py::reinterpret_borrow<py::dict>(value)) {
                options.attr("set_preference")(pref, pref_value);
            }
        } else if (kind != BrowserKind::Firefox) {
            options.attr("add_experimental_option")(name, value);
        } else {
            raise_error(PyExc_ValueError, "capabilities: '" + key + "' member '" + member +
                                              "' is not supported; use args, binary or prefs");
        }
    }
}

// Capabilities are sent as JSON and copied by selenium, which recurses: a value nested
// hundreds deep ended in a RecursionError from inside it.
constexpr int kCapabilityDepth = 32;

void check_capability_depth(py::handle value, const std::string &path, int depth = 0) {
    const bool is_dict = py::isinstance<py::dict>(value);
    if (!is_dict && !py::isinstance<py::list>(value)) {
        return;
    }
    if (depth == kCapabilityDepth) {
        raise_error(PyExc_ValueError, "capabilities: " + path + " is nested more than " +
                                          std::to_string(kCapabilityDepth) + " levels deep");
    }
    if (is_dict) {
        for (auto [name, member] : py::reinterpret_borrow<py::dict>(value)) {
            check_capability_depth(member, path.empty() ? to_str(name) : path + "." + to_str(name),
                                   depth + 1);
        }
        return;
    }
    std::size_t index = 0;
    for (py::handle item : value) {
        check_capability_depth(item, path + "[" + std::to_string(index++) + "]", depth + 1);
    }
}

void merge_capabilities(py::handle options, BrowserKind kind, py::handle capabilities) {
    if (capabilities.is_none()) {
        return;
    }
    const std::string browser_key = to_str(options.attr("KEY"));
    for (auto [name, value] : py::reinterpret_borrow<py::dict>(capabilities)) {
        if (to_str(name) == browser_key) {
            merge_browser_options(options, kind, value);
        } else {
            options.attr("set_capability")(name, value);
        }
    }
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
    std::string grid_source;      // where the hub address came from, for messages
    std::optional<bool> headless; // nothing: decided by the machine
    std::optional<std::string> browser_path;
    std::optional<std::string> driver_path;
    py::object capabilities = py::none(); // dict merged into the session's capabilities
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
        merge_capabilities(options, kind, config.capabilities);
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
    py::setattr(session, lumox::webdriver::kHeadlessAttr, py::bool_(headless));
    return session;
}

py::object remote_session(BrowserKind kind, const FactorySettings &config) {
    const Hub hub = hub_of(*config.grid, config.grid_source, false);
    // The hub's nodes have their own display: only an explicit setting makes them headless.
    py::object options = browser_options(kind, config.headless.value_or(false), "");
    if (config.browser_path) {
        options.attr("binary_location") = *config.browser_path;
    }
    merge_capabilities(options, kind, config.capabilities);
    py::object selenium = py::module_::import("selenium.webdriver");
    py::object cls = lumox::webdriver::session_class("Remote", selenium.attr("Remote"));
    py::object session = open_remote_session(
        hub, cls, options,
        py::module_::import("selenium.webdriver.remote.client_config").attr("ClientConfig"));
    py::setattr(session, lumox::webdriver::kHeadlessAttr,
                py::bool_(config.headless.value_or(false)));
    return session;
}

// The hub address to use: the `hub` argument when given (empty or "not set": this machine),
// else the setting lumox_ui.selenium_grid.
void choose_hub(FactorySettings &config, py::handle hub, py::handle settings) {
    if (hub.is_none()) {
        config.grid = text_setting(settings.attr("lumox_ui").attr("selenium_grid"), settings);
        config.grid_source = "lumox_ui.selenium_grid";
        return;
    }
    config.grid = text_setting(hub, settings);
    config.grid_source = "the hub argument";
    if (config.grid) {
        try {
            settings.attr("HttpUrl")(py::str(*config.grid));
        } catch (py::error_already_set &error) {
            if (!error.matches(PyExc_ValueError)) {
                throw;
            }
            raise_error(PyExc_ValueError,
                        without_hub_password(*config.grid, "hub " + to_repr(py::str(*config.grid)) +
                                                               " is not a WebDriver hub address: " +
                                                               to_str(error.value())));
        }
    }
}

py::object get_webdriver(py::object browser, py::object hub, py::object capabilities) {
    py::module_ settings = py::module_::import("lumox.settings");
    py::object ui = settings.attr("lumox_ui");
    const std::string name = kind_name(browser.is_none() ? ui.attr("driver_type") : browser);
    if (!capabilities.is_none() && !py::isinstance<py::dict>(capabilities)) {
        lumox::py_helpers::raise_argument_type("get_webdriver()", "capabilities", "a dict or None",
                                               capabilities);
    }
    check_capability_depth(capabilities, "");

    FactorySettings config;
    choose_hub(config, hub, settings);
    if (auto platform = lumox::core::app_platform(name)) {
        if (!config.grid) {
            raise_error(PyExc_ValueError,
                        "'" + name +
                            "' sessions run on an Appium server: give its address as "
                            "hub (e.g. http://127.0.0.1:4723), in the hub argument or the setting "
                            "lumox_ui.selenium_grid; neither is set");
        }
        return lumox::webdriver::app_session(
            *platform, hub_of(*config.grid, config.grid_source, true), capabilities);
    }
    const BrowserKind kind = browser_kind(name);
    py::object headless = ui.attr("headless");
    if (!headless.is_none()) {
        config.headless = py::bool_(headless).cast<bool>();
    }
    config.browser_path = text_setting(ui.attr("browser_path"), settings);
    config.driver_path = text_setting(ui.attr("driver_path"), settings);
    config.capabilities = capabilities;

    return config.grid ? remote_session(kind, config) : local_session(kind, config);
}

} // namespace

PYBIND11_MODULE(webdriver, m) {
    m.doc() = "WebDriver factory: local Chromium/Chrome, Firefox or Edge sessions through the "
              "drivers installed on the machine, or remote sessions on a WebDriver hub "
              "(Selenium Grid).";
    m.attr("logger") = lumox::py_helpers::get_logger("lumox.webdriver").object();
    m.def("get_webdriver", &get_webdriver, py::arg("browser") = py::none(),
          py::arg("hub") = py::none(), py::arg("capabilities") = py::none(),
          "A new browser session. `browser` (chrome, chromium, firefox, edge or a DriverEnum "
          "member) defaults to lumox_ui.driver_type; android and ios open an app session on "
          "the Appium server given as hub, `capabilities` being the session's capabilities "
          "(bare names get the appium: prefix). `hub` is the address of a WebDriver hub "
          "to start the session on; None means lumox_ui.selenium_grid, an empty text or the "
          "'not set' marker this machine. `capabilities` (a dict) is merged into the "
          "session's capabilities. lumox_ui.headless, browser_path and driver_path shape "
          "local sessions. Sessions offer debugger().");
    lumox::webdriver::define_debugger(m);
}

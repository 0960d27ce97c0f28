#include "remote.hpp"

#include "core/ascii_text.hpp"
#include "core/notice_text.hpp"
#include "native/common/errors.hpp"
#include "native/common/pylog.hpp"

#include <optional>

namespace lumox::webdriver {
namespace {

using py_helpers::to_str;

const char *kind_of(const Hub &hub) { return hub.app ? "Appium server" : "WebDriver hub"; }

py::object ui_setting(const char *name) {
    return py::module_::import("lumox.settings").attr("lumox_ui").attr(name);
}

py::object wait_max() { return ui_setting("wait_max"); }

// The remote sessions this process opened and has not quit.
py::list &open_sessions() {
    static auto *sessions = new py::list();
    return *sessions;
}

[[noreturn]] void fail_from(py::error_already_set &error, const Hub &hub,
                            const std::string &message) {
    py_helpers::raise_from(error, PyExc_RuntimeError, without_hub_password(hub.address, message));
}

} // namespace

Hub hub_of(const std::string &address, std::string source, bool app) {
    py::module_ parse = py::module_::import("urllib.parse");
    py::object parts = parse.attr("urlsplit")(address);
    Hub hub{address, address, py::none(), py::none(), std::move(source), app};
    std::string netloc = to_str(parts.attr("netloc"));
    if (const std::size_t at = netloc.rfind('@'); at != std::string::npos) {
        const std::string userinfo = netloc.substr(0, at);
        const std::size_t colon = userinfo.find(':');
        hub.username = parse.attr("unquote")(userinfo.substr(0, colon));
        hub.password =
            parse.attr("unquote")(colon == std::string::npos ? "" : userinfo.substr(colon + 1));
        py::object replace = parts.attr("_replace");
        hub.url = to_str(replace(py::arg("netloc") = netloc.substr(at + 1)).attr("geturl")());
    }
    while (!hub.url.empty() && hub.url.back() == '/') {
        hub.url.pop_back();
    }
    return hub;
}

std::string without_hub_password(const std::string &address, const std::string &message) {
    return core::mask_secrets(message, core::url_secrets(address));
}

namespace {

py::object status_request(const Hub &hub) {
    py::dict headers;
    if (!hub.username.is_none()) {
        py::object credentials =
            py::str(to_str(hub.username) + ":" + to_str(hub.password)).attr("encode")("utf-8");
        headers["Authorization"] =
            "Basic " +
            to_str(py::module_::import("base64").attr("b64encode")(credentials).attr("decode")());
    }
    return py::module_::import("urllib.request")
        .attr("Request")(hub.url + "/status", py::arg("headers") = headers);
}

void check_hub_answers(const Hub &hub) {
    py::object timeout = wait_max();
    py::module_ request = py::module_::import("urllib.request");
    try {
        request.attr("urlopen")(status_request(hub), py::arg("timeout") = timeout).attr("close")();
    } catch (py::error_already_set &error) {
        // An HTTP error status is an answer; only the network failing is not.
        if (error.matches(py::module_::import("urllib.error").attr("HTTPError"))) {
            return;
        }
        if (!error.matches(PyExc_OSError)) {
            throw;
        }
        fail_from(error, hub,
                  std::string(kind_of(hub)) + " " + hub.address + " does not answer (GET " +
                      hub.url + "/status within " + to_str(timeout) +
                      " s: " + to_str(error.value()) + "); check " + hub.source + " and that the " +
                      (hub.app ? "Appium server" : "hub") + " is running");
    }
}

struct Slots {
    long free = 0;
    long all = 0;
};

// The slots of a Selenium Grid 4 hub for `browser` as its /status tells them (a slot of
// that browser without a session on a node that is up is free); nothing from a hub that
// tells no slots (a single driver, an Appium server), or does not answer.
std::optional<Slots> hub_slots(const Hub &hub, const std::string &browser) {
    py::object status;
    try {
        py::object answer =
            py::module_::import("urllib.request")
                .attr("urlopen")(status_request(hub), py::arg("timeout") = wait_max());
        status = py::module_::import("json").attr("loads")(answer.attr("read")());
        answer.attr("close")();
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        return std::nullopt; // POST /session says what is wrong
    }
    if (!PyDict_Check(status.ptr()) ||
        !PyDict_Check(py::object(status.attr("get")("value")).ptr())) {
        return std::nullopt;
    }
    py::object nodes = status["value"].attr("get")("nodes");
    if (!PyList_Check(nodes.ptr())) {
        return std::nullopt;
    }
    Slots slots;
    for (py::handle node : nodes) {
        if (!PyDict_Check(node.ptr())) {
            continue;
        }
        const bool up = to_str(node.attr("get")("availability", "UP")) == "UP";
        py::object node_slots = node.attr("get")("slots", py::list());
        if (!PyList_Check(node_slots.ptr())) {
            continue;
        }
        for (py::handle slot : node_slots) {
            if (!browser.empty() && PyDict_Check(slot.ptr())) {
                py::object stereotype = slot.attr("get")("stereotype");
                py::object name = PyDict_Check(stereotype.ptr())
                                      ? stereotype.attr("get")("browserName")
                                      : py::object(py::none());
                if (!name.is_none() && !core::equals_ignoring_case(to_str(name), browser)) {
                    continue; // a slot of another browser
                }
            }
            ++slots.all;
            if (up && PyDict_Check(slot.ptr()) &&
                py::object(slot.attr("get")("session")).is_none()) {
                ++slots.free;
            }
        }
    }
    return slots;
}

double monotonic() { return py::module_::import("time").attr("monotonic")().cast<double>(); }

// Waits, up to `deadline`, for the hub to tell a free slot; whether it tells slots at all
// (a grid).
bool wait_for_slot(const Hub &hub, double deadline, const std::string &browser) {
    std::optional<Slots> slots = hub_slots(hub, browser);
    if (!slots || slots->all == 0) {
        return false;
    }
    if (slots->free > 0) {
        return true;
    }
    const double started = monotonic();
    py_helpers::get_logger("lumox.webdriver")
        .info("waiting for a free slot of the " + std::string(kind_of(hub)) + " " +
              without_hub_password(hub.address, hub.address) + " (0 of " +
              std::to_string(slots->all) + " free)");
    while (slots && slots->free == 0 && monotonic() < deadline) {
        py::module_::import("time").attr("sleep")(ui_setting("wait_poll"));
        slots = hub_slots(hub, browser);
    }
    char waited[32];
    std::snprintf(waited, sizeof waited, "%.1f", monotonic() - started);
    py_helpers::get_logger("lumox.webdriver")
        .info(std::string(slots && slots->free > 0 ? "a slot came free" : "no slot came free") +
              " after " + waited + " s");
    return true;
}

void check_session_limit() {
    const long limit = py::int_(ui_setting("max_sessions")).cast<long>();
    if (limit > 0 && static_cast<long>(py::len(open_sessions())) >= limit) {
        throw py::value_error(
            "lumox_ui.max_sessions = " + std::to_string(limit) + ": this process has " +
            std::to_string(py::len(open_sessions())) +
            " remote session(s) open already; close one (close_driver, or driver.quit()) "
            "before opening another, or raise the setting");
    }
}

// POST /session once, each failure one error naming the hub.
py::object open_session_once(const Hub &hub, py::object cls, py::object options,
                             py::object config_class) {
    const double limit = py::float_(wait_max()).cast<double>() + kSessionMargin;
    py::object client_config =
        config_class(py::arg("remote_server_addr") = hub.url, py::arg("timeout") = limit,
                     py::arg("username") = hub.username, py::arg("password") = hub.password);
    py::object session;
    try {
        session = cls(py::arg("command_executor") = hub.url, py::arg("options") = options,
                      py::arg("client_config") = client_config);
    } catch (py::error_already_set &error) {
        const std::string opening = std::string(kind_of(hub)) + " " + hub.address;
        if (error.matches(py::module_::import("urllib3.exceptions").attr("HTTPError"))) {
            // Asked only now, so a session that opens costs no round trip more: a hub that
            // does not answer at all is named as such.
            check_hub_answers(hub);
            char shown[32];
            std::snprintf(shown, sizeof shown, "%g", limit);
            fail_from(error, hub,
                      opening + " did not open a session within " + shown +
                          " s (POST /session, lumox_ui.wait_max plus " +
                          std::to_string(static_cast<int>(kSessionMargin)) +
                          " s): " + to_str(error.value()) +
                          "; check that it has a free slot, or raise "
                          "wait_max to give it longer");
        }
        // selenium reads a reply that is not WebDriver's JSON as if it were.
        if (error.matches(PyExc_AttributeError) || error.matches(PyExc_TypeError) ||
            error.matches(PyExc_KeyError)) {
            fail_from(error, hub,
                      opening +
                          " answered POST /session with a reply that is not a WebDriver "
                          "session (" +
                          to_str(py::type::handle_of(error.value()).attr("__name__")) + ": " +
                          to_str(error.value()) + "); check " + hub.source +
                          " names a WebDriver endpoint");
        }
        throw;
    }
    client_config.attr("timeout") = py::module_::import("socket").attr("getdefaulttimeout")();
    return session;
}

} // namespace

void forget_remote_session(py::handle session) {
    py::list &sessions = open_sessions();
    for (py::ssize_t index = 0; index < static_cast<py::ssize_t>(py::len(sessions)); ++index) {
        if (sessions[index].ptr() == session.ptr()) {
            PySequence_DelItem(sessions.ptr(), index);
            return;
        }
    }
}

py::object open_remote_session(const Hub &hub, py::object cls, py::object options,
                               py::object config_class) {
    check_session_limit();
    // A full grid is waited for, not failed: slots come free as other workers finish.
    const double deadline = monotonic() + py::float_(ui_setting("grid_wait")).cast<double>();
    // Only a grid's refusal may be for want of a slot: an Appium server or a single driver
    // refuses for what the session asked, which no wait mends.
    std::string browser;
    if (!hub.app) {
        py::object capabilities = py::getattr(options, "capabilities", py::none());
        if (PyDict_Check(capabilities.ptr()) && capabilities.contains("browserName")) {
            browser = to_str(capabilities["browserName"]);
        }
    }
    const bool grid = !hub.app && deadline > monotonic() && wait_for_slot(hub, deadline, browser);
    py::object refused =
        py::module_::import("selenium.common.exceptions").attr("SessionNotCreatedException");
    while (true) {
        try {
            py::object session = open_session_once(hub, cls, options, config_class);
            open_sessions().append(session);
            return session;
        } catch (py::error_already_set &error) {
            // Another worker took the slot first: the next one that comes free.
            if (!grid || !error.matches(refused) || monotonic() >= deadline) {
                throw;
            }
            py_helpers::get_logger("lumox.webdriver")
                .info("the hub refused the session (" + to_str(error.value()) +
                      "); trying again when a slot is free");
            py::module_::import("time").attr("sleep")(ui_setting("wait_poll"));
            wait_for_slot(hub, deadline, browser);
        }
    }
}

} // namespace lumox::webdriver

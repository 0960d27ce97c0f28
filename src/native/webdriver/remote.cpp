#include "remote.hpp"

#include "core/notice_text.hpp"
#include "native/common/errors.hpp"
#include "native/common/pylog.hpp"

namespace lumox::webdriver {
namespace {

using py_helpers::to_str;

const char *kind_of(const Hub &hub) { return hub.app ? "Appium server" : "WebDriver hub"; }

py::object wait_max() { return py::module_::import("lumox.settings").attr("lumox_ui").attr("wait_max"); }

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
        hub.password = parse.attr("unquote")(colon == std::string::npos ? "" : userinfo.substr(colon + 1));
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

void check_hub_answers(const Hub &hub) {
    py::object timeout = wait_max();
    py::module_ request = py::module_::import("urllib.request");
    py::dict headers;
    if (!hub.username.is_none()) {
        py::object credentials =
            py::str(to_str(hub.username) + ":" + to_str(hub.password)).attr("encode")("utf-8");
        headers["Authorization"] =
            "Basic " + to_str(py::module_::import("base64").attr("b64encode")(credentials).attr("decode")());
    }
    try {
        py::object probe = request.attr("Request")(hub.url + "/status", py::arg("headers") = headers);
        request.attr("urlopen")(probe, py::arg("timeout") = timeout).attr("close")();
    } catch (py::error_already_set &error) {
        // An HTTP error status is an answer; only the network failing is not.
        if (error.matches(py::module_::import("urllib.error").attr("HTTPError"))) {
            return;
        }
        if (!error.matches(PyExc_OSError)) {
            throw;
        }
        fail_from(error, hub,
                  std::string(kind_of(hub)) + " " + hub.address + " does not answer (GET " + hub.url +
                      "/status within " + to_str(timeout) + " s: " + to_str(error.value()) +
                      "); check " + hub.source + " and that the " +
                      (hub.app ? "Appium server" : "hub") + " is running");
    }
}

} // namespace

py::object open_remote_session(const Hub &hub, py::object cls, py::object options,
                               py::object config_class) {
    const double limit = py::float_(wait_max()).cast<double>() + kSessionMargin;
    py::object client_config = config_class(
        py::arg("remote_server_addr") = hub.url, py::arg("timeout") = limit,
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
                          std::to_string(static_cast<int>(kSessionMargin)) + " s): " +
                          to_str(error.value()) + "; check that it has a free slot, or raise "
                          "wait_max to give it longer");
        }
        // selenium reads a reply that is not WebDriver's JSON as if it were.
        if (error.matches(PyExc_AttributeError) || error.matches(PyExc_TypeError) ||
            error.matches(PyExc_KeyError)) {
            fail_from(error, hub,
                      opening + " answered POST /session with a reply that is not a WebDriver "
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

} // namespace lumox::webdriver

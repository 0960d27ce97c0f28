// Sessions on a WebDriver hub or an Appium server: the address split from its user and
// password (sent as basic auth instead), the GET /status probe, and POST /session under a
// whole limit, each failure one error naming the hub with its password masked.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::webdriver {

namespace py = pybind11;

struct Hub {
    std::string address; // as written, for messages
    std::string url;     // without user, password and trailing slash
    py::object username; // None when the address has none
    py::object password;
    std::string source; // where the address came from: "lumox_ui.selenium_grid", ...
    bool app = false;   // an Appium server, not a browser hub
};

Hub hub_of(const std::string &address, std::string source, bool app);

// `message` with the password of `address` (and any query value) as "***".
std::string without_hub_password(const std::string &address, const std::string &message);

// `cls(command_executor=..., options=..., client_config=...)` with a client configuration
// of `config_class` that waits lumox_ui.wait_max plus kSessionMargin seconds for the hub
// to open the session; later commands wait as long as selenium's default. The hub is
// asked GET /status first, so one that is down or silent is one clear error within the
// element wait, instead of selenium's retries and read time-outs.
py::object open_remote_session(const Hub &hub, py::object cls, py::object options,
                               py::object config_class);

inline constexpr double kSessionMargin = 30;

// A remote session ended (its quit): it no longer counts against lumox_ui.max_sessions.
void forget_remote_session(py::handle session);

} // namespace lumox::webdriver

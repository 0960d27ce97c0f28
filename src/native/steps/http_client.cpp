#include "http_client.hpp"

#include "core/notice_text.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/request_url.hpp"
#include "native/common/secrets.hpp"

#include <string>

namespace lumox::steps {

namespace {

using py_helpers::get_logger;
using py_helpers::method;
using py_helpers::to_repr;
using py_helpers::to_str;

constexpr const char *kRequestPrefix = ">>>    ";
constexpr const char *kResponsePrefix = "   <<< ";

const py_helpers::Logger &http_log() { return get_logger("lumox.http"); }

// The logging hooks come first; a caller's own "request" or "response" list replaces
// the logging list for that direction, any other key is added.
void init_client(py::object self, py::kwargs kwargs) {
    py::list on_request;
    on_request.append(self.attr("log_request"));
    py::list on_response;
    on_response.append(self.attr("log_response"));
    py::dict hooks;
    hooks["request"] = on_request;
    hooks["response"] = on_response;

    if (kwargs.contains("event_hooks")) {
        py::object given = kwargs.attr("pop")("event_hooks");
        // httpx itself takes None for "no hooks"; treat it like an absent argument.
        if (!given.is_none()) {
            hooks.attr("update")(given);
        }
    }
    kwargs["event_hooks"] = hooks;

    py::object cls = py::module_::import("lumox.steps").attr("HTTPClient");
    py::object super = py::module_::import("builtins").attr("super");
    super(cls, self).attr("__init__")(**kwargs);
}

void log_request(py::object /*self*/, py::object request) {
    py_helpers::require_absolute_url(request, "");
    const auto &log = http_log();
    py_helpers::remember_sent_secrets(request.attr("headers"));
    if (!log.info_enabled()) {
        request.attr("read")(); // as when logging: the body is complete afterwards
        return;
    }
    log.info(std::string(kRequestPrefix) + to_str(request.attr("method")) + " " +
             to_str(request.attr("url")));
    log.info(kRequestPrefix + to_str(py_helpers::masked_headers_repr(request.attr("headers"))));
    // Streamed and multipart bodies only exist once read.
    request.attr("read")();
    log.info(kRequestPrefix + to_repr(request.attr("content")));
}

void log_response(py::object /*self*/, py::object response) {
    const auto &log = http_log();
    if (!log.info_enabled()) {
        response.attr("read")();
        return;
    }
    log.info(kResponsePrefix + to_str(response.attr("status_code")));
    log.info(kResponsePrefix + to_str(py_helpers::masked_headers_repr(response.attr("headers"))));
    // Reading here means every response the caller receives is already complete.
    response.attr("read")();
    // An echoing server returns the request's credentials in its body.
    log.info(kResponsePrefix + core::mask_secrets(to_repr(response.attr("content")),
                                                  py_helpers::remembered_secrets()));
}

} // namespace

py::object define_http_client(py::module_ &module) {
    py::dict ns;
    // pybind11 must not see the name "__init__" (it special-cases it); stored under it.
    ns["__init__"] = method(&init_client, "init", py::arg("self"),
                            "Keyword arguments are those of httpx.Client. The request and "
                            "response logging hooks are installed unless event_hooks brings "
                            "its own list for that direction.");
    ns["log_request"] = method(&log_request, "log_request", py::arg("self"), py::arg("request"),
                               "Event hook: logs method and URL, headers and body of a request.");
    ns["log_response"] =
        method(&log_response, "log_response", py::arg("self"), py::arg("response"),
               "Event hook: logs status code, headers and body of a response (reads the body).");
    py::object base = py::module_::import("httpx").attr("Client");
    return py_helpers::make_class(module, "HTTPClient", py::make_tuple(base), ns,
                                  "httpx.Client that logs every request and response on the "
                                  "logger \"lumox.http\".");
}

} // namespace lumox::steps

#include "http_attachments.hpp"

#include "core/http_attachment_text.hpp"
#include "core/notice_text.hpp"
#include "secrets.hpp"

#include <string>

namespace lumox::py_helpers {

namespace {

std::vector<std::pair<std::string, std::string>> header_lines(py::handle headers) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (py::handle pair : headers.attr("multi_items")()) {
        lines.emplace_back(py::str(pair[py::int_(0)]).cast<std::string>(),
                           py::str(pair[py::int_(1)]).cast<std::string>());
    }
    return lines;
}

std::string body_of(py::handle message) {
    return py::reinterpret_borrow<py::bytes>(message.attr("content")).cast<std::string>();
}

void attach(const std::string &text, const char *name) {
    py::module_ allure = py::module_::import("allure");
    allure.attr("attach")(text, py::arg("name") = name,
                          py::arg("attachment_type") = allure.attr("attachment_type").attr("TEXT"));
}

} // namespace

bool report_is_recording() {
    py::object hook = py::module_::import("allure_commons").attr("plugin_manager").attr("hook");
    return py::len(hook.attr("attach_data").attr("get_hookimpls")()) > 0;
}

void attach_http_exchange(py::handle response) {
    if (!report_is_recording()) {
        return;
    }
    py::object request = response.attr("request");
    core::HttpMessageText sent{py::str(request.attr("method")).cast<std::string>() + " " +
                                   py::str(request.attr("url")).cast<std::string>(),
                               header_lines(request.attr("headers")), body_of(request)};
    core::HttpMessageText received{
        py::str(response.attr("http_version")).cast<std::string>() + " " +
            py::str(response.attr("status_code")).cast<std::string>() + " " +
            py::str(response.attr("reason_phrase")).cast<std::string>(),
        header_lines(response.attr("headers")), body_of(response)};
    // A server that echoes the request would show its credentials in the bodies.
    const std::vector<std::string> secrets = remembered_secrets();
    attach(core::mask_secrets(core::http_message_text(sent), secrets), "request");
    attach(core::mask_secrets(core::http_message_text(received), secrets), "response");
}

} // namespace lumox::py_helpers

// Credentials kept out of what a run shows: failure reports and report-step parameters mask
// the same headers as the request and response attachments (see http_attachment_text.hpp).
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace lumox::py_helpers {

namespace py = pybind11;

// A copy of a YAML step (or any value) in which every `headers` mapping has the values of
// its secret headers masked and every `cookies` mapping all its values. Containers that
// hold themselves or nest very deep are left as they are past that point.
py::object masked_step(py::handle value);

// The parameters of a keyword call with credentials masked: `value` next to a `key` that
// names a secret header, cookie values, and the entries of JSON `headers`/`cookies` texts.
py::dict masked_keyword_params(py::handle keyword, py::dict params);

// The positional arguments of a workbook row calling `keyword`, masked the same way; the
// name=value cells of run_sheet whose name says secret (password, token, ...) too.
py::object masked_keyword_args(py::handle keyword, py::handle args);

// The credentials that `headers` (httpx.Headers of a request) send: values of secret
// headers, the token after their scheme, and each cookie's value. An echoing server
// returns them in its body, where they are masked too.
std::vector<std::string> sent_secrets(py::handle headers);

// Adds the credentials that `headers` send to those of the run, which every report step
// parameter, attachment and response body log line has masked from then on (an echoing
// server, or a saved response text, would show them otherwise).
void remember_sent_secrets(py::handle headers);
std::vector<std::string> remembered_secrets();

// The values of secret headers and of cookies in the request arguments `request`, replaced
// by texts that are the same to httpx but whose repr is masked: tracebacks shown with
// -l or --fulltrace list the locals of httpx's frames.
void hide_secrets_in_repr(py::dict request);

// repr(headers) of httpx.Headers with the values of every secret header masked by name
// (httpx itself hides only Authorization and Proxy-Authorization): for log lines.
py::str masked_headers_repr(py::handle headers);

} // namespace lumox::py_helpers

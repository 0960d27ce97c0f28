#include "request_url.hpp"

#include "errors.hpp"
#include "pylog.hpp"

namespace lumox::py_helpers {

void require_absolute_url(py::handle request, const std::string &other_way) {
    py::object url = request.attr("url");
    if (url.attr("is_absolute_url").cast<bool>()) {
        return;
    }
    raise_error(PyExc_ValueError,
                "request " + to_str(request.attr("method")) + " " + to_repr(py::str(url)) +
                    ": the URL is relative and [lumox_api] base_url (environment variable "
                    "LUMOX_API_BASE_URL) is empty; set it to the service's address such as "
                    "http://127.0.0.1:8000" +
                    other_way + ", or write the full http://... URL");
}

} // namespace lumox::py_helpers

// MockRequest: the request record the API keywords fill before sending.
#include "actlib_utils.hpp"

#include "native/common/pyclass.hpp"

namespace lumox::actlib_utils {

namespace {

using py_helpers::method;

void init_request(py::object self) {
    self.attr("headers") = py::dict();
    self.attr("cookies") = py::dict();
    self.attr("params") = py::dict();
    self.attr("data") = py::dict();
    self.attr("json") = py::dict();
    self.attr("files") = py::list();
}

py::object to_dict(py::object self) { return self.attr("__dict__"); }

} // namespace

py::object define_mock_request(py::module_ &module) {
    py::dict ns;
    ns["__init__"] = method(&init_request, "init", py::arg("self"));
    ns["to_dict"] = method(&to_dict, "to_dict", py::arg("self"),
                           "The record's own field mapping (not a copy): headers, cookies, "
                           "params, data, json, files and any field added later.");
    return py_helpers::make_class(module, "MockRequest", py::tuple(), ns,
                                  "The request under construction: headers, cookies, params, "
                                  "data, json (mappings) and files (list of (field, file)).");
}

} // namespace lumox::actlib_utils

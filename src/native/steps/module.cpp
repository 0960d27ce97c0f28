// Placeholder until the step runner lands: keeps lumox._plugin importable.
#include <pybind11/pybind11.h>
namespace py = pybind11;
PYBIND11_MODULE(steps, m) {
    py::object logging = py::module_::import("logging");
    m.attr("logger") = logging.attr("getLogger")("lumox._plugin");
    m.attr("http_logger") = logging.attr("getLogger")("lumox.http");
    m.attr("HTTPClient") = py::module_::import("httpx").attr("Client");
    m.attr("exchanger") = py::none();
    m.attr("client") = py::none();
    m.def("run_step", [](py::object, py::object) { return 1; });
    m.def("save_variables", []() {});
}

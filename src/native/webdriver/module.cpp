// Placeholder until the WebDriver factory lands.
#include <pybind11/pybind11.h>
namespace py = pybind11;
PYBIND11_MODULE(webdriver, m) {
    m.def("get_webdriver", [](py::object) -> py::object { throw std::runtime_error("not built yet"); },
          py::arg("browser") = py::none());
}

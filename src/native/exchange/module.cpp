#include <pybind11/pybind11.h>

PYBIND11_MODULE(exchange, m) { m.doc() = "placeholder"; }

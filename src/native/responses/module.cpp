#include <pybind11/pybind11.h>

PYBIND11_MODULE(responses, m) { m.doc() = "placeholder"; }

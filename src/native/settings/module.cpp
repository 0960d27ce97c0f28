#include <pybind11/pybind11.h>

PYBIND11_MODULE(settings, m) { m.doc() = "placeholder"; }

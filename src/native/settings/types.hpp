// The value types of lumox.settings: DriverEnum, NotSetEnum, HttpUrl and SettingsError.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::settings {

namespace py = pybind11;

// The module's classes, kept for the whole process (never released: the interpreter may
// be gone when static destructors run).
struct SettingsTypes {
    py::object driver_enum;
    py::object not_set_enum;
    py::object http_url;
    py::object settings_error;
};

const SettingsTypes &types();

// Creates the four classes in `m`; must run before `types()` is used.
void add_value_types(py::module_ &m);

// Raises lumox.settings.SettingsError with `message`.
[[noreturn]] void raise_settings_error(const std::string &message);

} // namespace lumox::settings

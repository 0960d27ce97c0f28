#include "types.hpp"

#include "core/setting_values.hpp"
#include "core/settings_schema.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

namespace lumox::settings {

namespace {

using py_helpers::make_class;
using py_helpers::method;
using py_helpers::static_method;
using py_helpers::to_repr;

SettingsTypes *registered = nullptr;

py::object make_driver_enum(py::module_ &m) {
    py::list members;
    for (auto name : core::kDriverKinds) {
        members.append(py::make_tuple(std::string(name), std::string(name)));
    }
    py::object driver_enum = py::module_::import("enum").attr("StrEnum")(
        "DriverEnum", members, py::arg("module") = m.attr("__name__"),
        py::arg("qualname") = "DriverEnum");
    driver_enum.attr("__doc__") = "Browser kinds the WebDriver factory can start.";
    return driver_enum;
}

py::object make_not_set_enum(py::module_ &m) {
    py::object not_set = py::module_::import("enum").attr("Enum")(
        "NotSetEnum", py::make_tuple(py::make_tuple("NOT_SET", "not set")),
        py::arg("module") = m.attr("__name__"), py::arg("qualname") = "NotSetEnum");
    not_set.attr("__doc__") = "Marker of a setting that has no value (NotSetEnum.NOT_SET); "
                              "false in a truth test.";
    // `if hub:` reads naturally: the marker counts as false.
    not_set.attr("__bool__") =
        method([](py::object) { return false; }, "__bool__", py::arg("self"));
    return not_set;
}

py::object make_http_url(py::module_ &m) {
    py::dict ns;
    ns["__slots__"] = py::tuple();
    ns["__new__"] = static_method(
        [](py::object cls, py::object value) {
            if (!py::isinstance<py::str>(value)) {
                throw py::type_error(
                    "HttpUrl expects a text, got " +
                    py::str(py::type::of(value).attr("__name__")).cast<std::string>());
            }
            try {
                core::check_http_url(value.cast<std::string>());
            } catch (const core::SettingValueError &error) {
                throw py::value_error("invalid HttpUrl " + to_repr(value) + ": " + error.what());
            }
            return py::module_::import("builtins").attr("str").attr("__new__")(cls, value);
        },
        "new_http_url", py::arg("cls"), py::arg("value"));
    ns["__repr__"] = method(
        [](py::object self) {
            // repr of the plain text (py::str(self) would keep the subclass and recurse).
            return "HttpUrl(" + to_repr(py::str(self.cast<std::string>())) + ")";
        },
        "__repr__", py::arg("self"));
    return make_class(m, "HttpUrl", py::make_tuple(py::module_::import("builtins").attr("str")), ns,
                      "An http:// or https:// address with a host: a str that checks its text "
                      "when made (ValueError naming the text otherwise).");
}

py::object make_settings_error(py::module_ &m) {
    return make_class(m, "SettingsError", py::make_tuple(py::handle(PyExc_ValueError)), py::dict(),
                      "A setting in pytest.ini or the environment has a value of the wrong "
                      "kind; the message names where it came from, the value and what was "
                      "expected.");
}

} // namespace

const SettingsTypes &types() { return *registered; }

void add_value_types(py::module_ &m) {
    registered = new SettingsTypes{};
    registered->settings_error = make_settings_error(m);
    registered->http_url = make_http_url(m);
    registered->driver_enum = make_driver_enum(m);
    registered->not_set_enum = make_not_set_enum(m);
    m.attr("DriverEnum") = registered->driver_enum;
    m.attr("NotSetEnum") = registered->not_set_enum;
}

void raise_settings_error(const std::string &message) {
    PyErr_SetString(types().settings_error.ptr(), message.c_str());
    throw py::error_already_set();
}

} // namespace lumox::settings

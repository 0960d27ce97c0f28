// lumox.settings: the configuration every part of lumox reads.
#include "core/ini_template.hpp"
#include "core/settings_schema.hpp"
#include "groups.hpp"
#include "native/common/module_init.hpp"
#include "types.hpp"

namespace {

namespace py = pybind11;

// Every setting as the table declares it, for the settings reference.
py::list setting_table() {
    py::list rows;
    for (const lumox::core::SettingSpec &entry : lumox::core::setting_specs()) {
        std::string accepts = lumox::core::expected_value(entry.kind);
        if (accepts.rfind("expected ", 0) == 0) {
            accepts.erase(0, std::string("expected ").size());
        }
        rows.append(py::dict(py::arg("section") = entry.group, py::arg("key") = entry.key,
                             py::arg("default") = entry.default_text, py::arg("accepts") = accepts,
                             py::arg("secret") = entry.secret, py::arg("meaning") = entry.meaning,
                             py::arg("environment") = lumox::core::environment_variable(entry)));
    }
    return rows;
}

} // namespace

PYBIND11_MODULE(settings, m) {
    m.doc() = "The settings of lumox, in three groups: `lumox` (variables file, report, "
              "notifications), `lumox_api` (HTTP clients) and `lumox_ui` (browsers).\n\n"
              "Each key is read from the section of its group's name in pytest.ini of the current "
              "directory ([lumox], [lumox_api], [lumox_ui]); an environment variable "
              "<GROUP>_<KEY> (for example LUMOX_UI_WAIT_MAX) overrides the file; keys absent from "
              "both keep their documented defaults. A value of the wrong kind raises "
              "SettingsError. Each group's reload_settings() reads both again.\n\n"
              "Also here: DriverEnum (browser kinds), NotSetEnum (the marker of an unset hub "
              "address) and HttpUrl (a checked http(s) address).";
    lumox::py_helpers::init_module([&] {
        lumox::settings::add_value_types(m);
        lumox::settings::add_setting_groups(m);
        m.def("pytest_ini_template", &lumox::core::pytest_ini_template,
              "The pytest.ini a new project starts from: pytest's options for lumox and every "
              "setting with its default and meaning (packaged as file/pytest.ini.txt).");
        m.def("setting_table", &setting_table,
              "Every setting as declared: section, key, default, what it accepts, whether it "
              "is secret, its meaning and its environment variable.");
    });
}

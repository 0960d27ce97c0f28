#include "groups.hpp"

#include "types.hpp"

#include "core/ascii_text.hpp"
#include "core/file_io.hpp"
#include "core/ini.hpp"
#include "core/setting_values.hpp"
#include "core/settings_schema.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace lumox::settings {

namespace {

using core::SettingKind;
using core::SettingSpec;
using py_helpers::get_logger;
using py_helpers::make_class;
using py_helpers::method;
using py_helpers::to_repr;

constexpr const char *kLoggerName = "lumox.settings";

// The file the settings are read from: pytest.ini of the working directory, unless a pytest
// run names the configuration file it uses (use_config_file).
std::string &config_file() {
    static std::string *path = new std::string("pytest.ini"); // lives for the process
    return *path;
}

// Where the settings were last read from, as an absolute path: config_file() may be
// relative, and the working directory may have changed since.
std::string &read_from() {
    static std::string *path = new std::string(); // lives for the process
    return *path;
}

// The configuration file; an empty document when there is none.
core::IniDocument read_ini() {
    const std::string &path = config_file();
    std::error_code ignored;
    read_from() = std::filesystem::absolute(path, ignored).lexically_normal().string();
    std::optional<std::string> content;
    try {
        content = core::read_file_if_exists(path);
    } catch (const core::FileError &error) {
        raise_settings_error(std::string("cannot read ") + path + ": " +
                             std::strerror(error.error_number()));
    }
    if (!content) {
        return {};
    }
    // Values become Python texts later; reject a file that is not UTF-8 here, as a whole.
    PyObject *decoded =
        PyUnicode_DecodeUTF8(content->data(), static_cast<Py_ssize_t>(content->size()), "strict");
    if (decoded == nullptr) {
        py::error_already_set error;
        if (!error.matches(PyExc_UnicodeDecodeError)) {
            throw error;
        }
        raise_settings_error(path +
                             " is not UTF-8 text: " + py::str(error.value()).cast<std::string>());
    }
    Py_DECREF(decoded);
    try {
        return core::parse_ini(*content);
    } catch (const core::IniError &error) {
        raise_settings_error(path + " " + error.what());
    }
}

py::object to_python(const SettingSpec &entry, const core::SettingValue &value) {
    const SettingsTypes &t = types();
    if (std::holds_alternative<std::monostate>(value)) {
        if (entry.kind == SettingKind::GridUrl) {
            return t.not_set_enum.attr("NOT_SET");
        }
        return py::none(); // "decide automatically"
    }
    if (const auto *truth = std::get_if<bool>(&value)) {
        return py::bool_(*truth);
    }
    if (const auto *number = std::get_if<int>(&value)) {
        return py::int_(*number);
    }
    if (const auto *seconds = std::get_if<double>(&value)) {
        return py::float_(*seconds);
    }
    const auto &text = std::get<std::string>(value);
    switch (entry.kind) {
    case SettingKind::DriverKind:
        return t.driver_enum(text);
    case SettingKind::GridUrl:
        return t.http_url(text);
    default:
        return py::str(text);
    }
}

py::object default_value(const SettingSpec &entry) {
    return to_python(entry, core::read_setting(entry, entry.default_text));
}

// The value of `entry`: the environment variable, else pytest.ini, else the default.
py::object current_value(const SettingSpec &entry, const core::IniDocument &ini) {
    const std::string variable = core::environment_variable(entry);
    py::object from_env = py::module_::import("os").attr("environ").attr("get")(variable);
    std::string text;
    std::string origin;
    if (!from_env.is_none()) {
        // Bytes that are no UTF-8 reach Python as lone surrogates: no text to read.
        if (!py_helpers::is_utf8_encodable(from_env)) {
            raise_settings_error("environment variable " + variable + " = " + to_repr(from_env) +
                                 ": not UTF-8 text");
        }
        text = from_env.cast<std::string>();
        origin = "environment variable " + variable;
    } else if (auto from_file = ini.get(entry.group, entry.key)) {
        text = std::move(*from_file);
        origin = config_file() + " [" + std::string(entry.group) + "] " + std::string(entry.key);
    } else {
        return default_value(entry);
    }
    try {
        return to_python(entry, core::read_setting(entry, text));
    } catch (const core::SettingValueError &error) {
        raise_settings_error(origin + " = " + to_repr(py::str(text)) + ": " + error.what());
    }
}

void warn_unknown_keys(const std::string &group, const core::IniDocument &ini) {
    const auto *entries = ini.section(group);
    if (entries == nullptr) {
        return;
    }
    for (const auto &entry : *entries) {
        if (core::find_setting(group, entry.key) == nullptr) {
            get_logger(kLoggerName)
                .warning(config_file() + " [" + group + "] unknown key '" + entry.key + "' (line " +
                         std::to_string(entry.line) + ") is ignored");
        }
    }
}

// A section meant as [group] that is not read: written in another case or with extra
// brackets or blanks ("[LUMOX_UI]", "[[lumox_ui]]", "[ lumox_ui ]").
void warn_lookalike_sections(const std::string &group, const core::IniDocument &ini) {
    for (const std::string &name : ini.section_names()) {
        std::string_view bare = core::strip_blanks(name);
        while (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
            bare = core::strip_blanks(bare.substr(1, bare.size() - 2));
        }
        if (name != group && core::equals_ignoring_case(bare, group)) {
            get_logger(kLoggerName)
                .warning(config_file() + " section [" + name + "] is not read: its settings " +
                         "belong under [" + group + "] (section names are case-sensitive)");
        }
    }
}

void reload_group(py::object self) {
    const std::string group = self.attr("_group").cast<std::string>();
    const core::IniDocument ini = read_ini();
    warn_lookalike_sections(group, ini);
    warn_unknown_keys(group, ini);
    // Every value is read before any is assigned: a bad value leaves the group unchanged.
    py::dict values;
    for (const auto &entry : core::setting_specs()) {
        if (entry.group == group) {
            values[py::str(std::string(entry.key))] = current_value(entry, ini);
        }
    }
    for (auto [key, value] : values) {
        py::setattr(self, key, value);
    }
}

std::string group_repr(py::object self) {
    const std::string group = self.attr("_group").cast<std::string>();
    std::string text = group + "(";
    bool first = true;
    for (const auto &entry : core::setting_specs()) {
        const std::string key(entry.key);
        if (entry.group != group || !py::hasattr(self, key.c_str())) {
            continue;
        }
        py::object value = self.attr(key.c_str());
        text += (first ? "" : ", ") + key + "=";
        text += (entry.secret && py::bool_(value)) ? "'***'" : to_repr(value);
        first = false;
    }
    return text + ")";
}

py::object make_group_base(py::module_ &m) {
    py::dict ns;
    ns["__init__"] =
        method([](py::object self) { reload_group(self); }, "init_settings_group", py::arg("self"));
    ns["reload_settings"] = method(&reload_group, "reload_settings", py::arg("self"),
                                   "reload_settings() -> None\n\n"
                                   "Reads this group again from pytest.ini in the current "
                                   "directory and from the environment (which wins). Raises "
                                   "SettingsError for a value of the wrong kind and then "
                                   "leaves the group unchanged.");
    ns["__repr__"] = method(&group_repr, "__repr__", py::arg("self"));
    return make_class(m, "SettingsGroup",
                      py::make_tuple(py::module_::import("builtins").attr("object")), ns,
                      "A group of settings: one attribute per key, read from the pytest.ini "
                      "section of the group's name and the environment variables "
                      "<GROUP>_<KEY>. Attributes may be assigned to override a value until "
                      "the next reload_settings().");
}

// Secret values live in a mapping whose repr hides them, so that neither repr(group) nor
// vars(group) nor a debugger's view of the object shows a password.
constexpr const char *kHiddenAttr = "_hidden_values";

py::object hidden_values(py::object self) {
    py::dict own = self.attr("__dict__");
    if (!own.contains(kHiddenAttr)) {
        own[kHiddenAttr] = py::module_::import("lumox.settings").attr("HiddenValues")();
    }
    return own[kHiddenAttr];
}

py::object secret_property(const SettingSpec &entry) {
    const std::string key(entry.key);
    py::object fallback = default_value(entry);
    py::cpp_function getter(
        [key, fallback](py::object self) -> py::object {
            py::object values = hidden_values(self);
            return values.contains(key) ? py::object(values[py::str(key)]) : fallback;
        },
        py::arg("self"));
    py::cpp_function setter(
        [key](py::object self, py::object value) { hidden_values(self)[py::str(key)] = value; },
        py::arg("self"), py::arg("value"));
    return py::module_::import("builtins")
        .attr("property")(getter, setter, py::none(),
                          std::string(entry.meaning) + " (a secret: never shown)");
}

void define_hidden_values(py::module_ &m) {
    py::dict ns;
    ns["__repr__"] = method([](py::object) { return std::string("<secret values>"); }, "__repr__",
                            py::arg("self"));
    make_class(m, "HiddenValues", py::make_tuple(py::module_::import("builtins").attr("dict")), ns,
               "The secret settings of a group (a dict whose repr shows none of them).");
}

py::object make_group_class(py::module_ &m, py::object base, const char *class_name,
                            std::string_view group) {
    py::dict ns;
    ns["_group"] = std::string(group);
    std::string doc = "Settings of the [" + std::string(group) +
                      "] section. Keys (class "
                      "attributes hold the defaults):\n";
    for (const auto &entry : core::setting_specs()) {
        if (entry.group == group) {
            ns[py::str(std::string(entry.key))] =
                entry.secret ? secret_property(entry) : default_value(entry);
            doc += "\n" + std::string(entry.key) + ": " + std::string(entry.meaning) + " (env " +
                   core::environment_variable(entry) + ")";
        }
    }
    return make_class(m, class_name, py::make_tuple(base), ns, doc.c_str());
}

} // namespace

void use_config_file(py::object path) {
    std::string chosen =
        py::str(path.is_none() ? py::str("pytest.ini") : py::str(path)).cast<std::string>();
    if (chosen == config_file()) {
        return;
    }
    config_file() = chosen;
    py::module_ settings = py::module_::import("lumox.settings");
    for (const char *group : {"lumox", "lumox_api", "lumox_ui"}) {
        settings.attr(group).attr("reload_settings")();
    }
}

void add_setting_groups(py::module_ &m) {
    define_hidden_values(m);
    m.def("use_config_file", &use_config_file, py::arg("path"),
          "Reads every group from the INI file `path` from now on (None: pytest.ini of the "
          "working directory) and reloads the groups when it changes. The plug-in calls it "
          "with the configuration file pytest uses (pytest.ini, tox.ini or setup.cfg).");
    m.def("config_file", [] { return config_file(); }, "The file the settings are read from.");
    m.def(
        "config_file_read", [] { return read_from(); },
        "The absolute path of the file the settings were last read from ('' before the "
        "first reading).");
    py::object base = make_group_base(m);
    static constexpr std::pair<const char *, std::string_view> classes[] = {
        {"LumoxSettings", "lumox"},
        {"LumoxApiSettings", "lumox_api"},
        {"LumoxUiSettings", "lumox_ui"}};
    for (const auto &[class_name, group] : classes) {
        py::object cls = make_group_class(m, base, class_name, group);
        m.attr(py::str(std::string(group))) = cls();
    }
}

} // namespace lumox::settings

// lumox.files: YamlFile, a YAML mapping bound to a file (the run's variables file).
#include "core/file_io.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

#include <cerrno>
#include <optional>
#include <string>

namespace py = pybind11;

namespace lumox::files {

namespace {

using py_helpers::make_class;
using py_helpers::method;
using py_helpers::to_repr;
using py_helpers::to_str;

// Raises the OSError subclass that matches the failed system call (PermissionError,
// NotADirectoryError, ...), naming the path.
[[noreturn]] void raise_os_error(const core::FileError &error) {
    errno = error.error_number();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, error.path().c_str());
    throw py::error_already_set();
}

// Raises ValueError(message) with the error being handled as its cause.
[[noreturn]] void raise_value_error_from(py::error_already_set &cause, const std::string &message) {
    py::raise_from(cause, PyExc_ValueError, message.c_str());
    throw py::error_already_set();
}

std::string path_of(py::handle self) { return self.attr("path").cast<std::string>(); }

// The mapping in the file's YAML text, or an empty one for an empty document.
py::dict parse_document(const std::string &path, const std::string &content) {
    py::object yaml = py::module_::import("yaml");
    py::object text;
    try {
        text = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
            content.data(), static_cast<Py_ssize_t>(content.size()), "strict"));
        if (!text) {
            throw py::error_already_set();
        }
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_UnicodeDecodeError)) {
            throw;
        }
        raise_value_error_from(error, "'" + path + "' is not UTF-8 text: " + to_str(error.value()));
    }
    py::object document;
    try {
        // safe_load: a variables file must never construct arbitrary Python objects.
        document = yaml.attr("safe_load")(text);
    } catch (py::error_already_set &error) {
        if (!error.matches(yaml.attr("YAMLError"))) {
            throw;
        }
        raise_value_error_from(error, "'" + path + "' is not valid YAML: " + to_str(error.value()));
    }
    if (document.is_none()) {
        return py::dict();
    }
    if (!py::isinstance<py::dict>(document)) {
        throw py::value_error("'" + path + "' holds a YAML " +
                              py::type::of(document).attr("__name__").cast<std::string>() +
                              ", expected a mapping of names to values");
    }
    return document.cast<py::dict>();
}

void init_yaml_file(py::object self, py::object path) {
    // os.fspath accepts str and os.PathLike; fsdecode turns a bytes path into text.
    py::object os = py::module_::import("os");
    py::str text = os.attr("fsdecode")(os.attr("fspath")(path));
    self.attr("path") = text;
    std::optional<std::string> content;
    try {
        content = core::read_file_if_exists(text.cast<std::string>());
    } catch (const core::FileError &error) {
        raise_os_error(error);
    }
    if (content) {
        py::dict data = parse_document(text.cast<std::string>(), *content);
        py::module_::import("builtins").attr("dict").attr("update")(self, data);
    }
}

// The YAML text of the mapping; fails (naming the key) before anything is written when a
// value cannot be represented.
std::string serialize(py::object self) {
    py::object yaml = py::module_::import("yaml");
    py::dict plain = py::module_::import("builtins").attr("dict")(self);
    auto dump = [&](py::handle data) {
        return yaml.attr("safe_dump")(data, py::arg("allow_unicode") = true,
                                      py::arg("sort_keys") = false,
                                      py::arg("default_flow_style") = false);
    };
    try {
        return dump(plain).cast<std::string>();
    } catch (py::error_already_set &error) {
        if (!error.matches(yaml.attr("representer").attr("RepresenterError"))) {
            throw;
        }
        std::string culprit;
        for (auto [key, value] : plain) {
            try {
                dump(py::make_tuple(value));
            } catch (py::error_already_set &inner) {
                if (!inner.matches(yaml.attr("representer").attr("RepresenterError"))) {
                    throw;
                }
                culprit = "the value of " + to_repr(key) + " (" + to_repr(value) + ")";
                break;
            }
        }
        if (culprit.empty()) {
            culprit = "a key";
        }
        raise_value_error_from(error, "cannot save '" + path_of(self) + "': " + culprit +
                                          " cannot be written as YAML");
    }
}

void save(py::object self) {
    const std::string content = serialize(self);
    try {
        core::write_file_atomically(path_of(self), content);
    } catch (const core::FileError &error) {
        raise_os_error(error);
    }
}

std::string yaml_file_repr(py::object self) {
    py::object as_dict = py::module_::import("builtins").attr("dict")(self);
    return py::type::of(self).attr("__name__").cast<std::string>() + "(" +
           to_repr(self.attr("path")) + ", " + to_repr(as_dict) + ")";
}

} // namespace

void add_yaml_file(py::module_ &m) {
    py::dict ns;
    ns["__init__"] = method(&init_yaml_file, "init_yaml_file", py::arg("self"), py::arg("path"));
    ns["save"] = method(&save, "save", py::arg("self"),
                        "save() -> None\n\n"
                        "Writes the mapping to `path` as block-style YAML (UTF-8, non-ASCII "
                        "text kept readable, keys in their order). The file is replaced in one "
                        "step: an interrupted or failed save leaves the previous file intact.");
    ns["__repr__"] = method(&yaml_file_repr, "__repr__", py::arg("self"));
    make_class(m, "YamlFile", py::make_tuple(py::module_::import("builtins").attr("dict")), ns,
               "YamlFile(path)\n\n"
               "A dict bound to a YAML file: the file's mapping is loaded when the object is "
               "made (no file: empty; an empty file: empty; invalid YAML or a document that "
               "is not a mapping: ValueError), and save() writes the mapping back.");
}

} // namespace lumox::files

PYBIND11_MODULE(files, m) {
    m.doc() = "Files of a lumox run: YamlFile, the YAML mapping behind the variables file.";
    lumox::files::add_yaml_file(m);
}

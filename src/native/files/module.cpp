// lumox.files: YamlFile, a YAML mapping bound to a file (the run's variables file).
#include "core/file_io.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

#include <cerrno>
#include <chrono>
#include <cmath>
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

py::object dict_type() { return py::module_::import("builtins").attr("dict"); }

// The keys assigned or removed since the last save: a save merges only these into the
// file as it then is, so processes sharing the file keep each other's updates.
py::set changed_keys(py::handle self) {
    py::object keys = py::getattr(self, "_changed_keys", py::none());
    if (!py::isinstance<py::set>(keys)) {
        keys = py::set();
        self.attr("_changed_keys") = keys;
    }
    return keys.cast<py::set>();
}

void set_item(py::object self, py::handle key, py::handle value) {
    if (PyDict_SetItem(self.ptr(), key.ptr(), value.ptr()) != 0) {
        throw py::error_already_set();
    }
    changed_keys(self).add(key);
}

void del_item(py::object self, py::object key) {
    if (PyDict_DelItem(self.ptr(), key.ptr()) != 0) {
        throw py::error_already_set();
    }
    changed_keys(self).add(key);
}

void set_items(py::object self, py::dict given) {
    for (auto [key, value] : given) {
        set_item(self, key, value);
    }
}

void update(py::object self, py::args args, py::kwargs kwargs) {
    // dict.update's own argument handling, into a scratch dict whose items are then set.
    py::dict given;
    dict_type().attr("update")(given, *args, **kwargs);
    set_items(self, given);
}

py::object inplace_or(py::object self, py::object other) {
    py::dict given;
    dict_type().attr("update")(given, other);
    set_items(self, given);
    return self;
}

py::object set_default(py::object self, py::object key, py::object fallback) {
    PyObject *present = PyDict_GetItemWithError(self.ptr(), key.ptr());
    if (present != nullptr) {
        return py::reinterpret_borrow<py::object>(present);
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }
    set_item(self, key, fallback);
    return fallback;
}

py::object pop(py::object self, py::object key, py::args fallback) {
    const int present = PyDict_Contains(self.ptr(), key.ptr());
    if (present < 0) {
        throw py::error_already_set();
    }
    py::object value = dict_type().attr("pop")(self, key, *fallback);
    if (present == 1) {
        changed_keys(self).add(key);
    }
    return value;
}

py::object pop_item(py::object self) {
    py::tuple item = dict_type().attr("popitem")(self);
    changed_keys(self).add(item[0]);
    return item;
}

void clear(py::object self) {
    py::set keys = changed_keys(self);
    for (auto [key, value] : py::reinterpret_borrow<py::dict>(self)) {
        keys.add(key);
    }
    PyDict_Clear(self.ptr());
}

// PyYAML's safe Loader or Dumper: libyaml's CSafe<kind> when PyYAML was built with it,
// its own pure-Python Safe<kind> otherwise.
py::object safe_class(py::handle yaml, const std::string &kind) {
    return py::getattr(yaml, ("CSafe" + kind).c_str(), yaml.attr(("Safe" + kind).c_str()));
}

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
        // A safe loader: a variables file must never construct arbitrary Python objects.
        // libyaml's (when PyYAML has it) reads a large file about a hundred times faster.
        document = yaml.attr("load")(text, py::arg("Loader") = safe_class(yaml, "Loader"));
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
    self.attr("_changed_keys") = py::set();
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
std::string serialize(py::dict plain, const std::string &path) {
    py::object yaml = py::module_::import("yaml");
    auto dump = [&](py::handle data) {
        return yaml.attr("dump")(data, py::arg("Dumper") = safe_class(yaml, "Dumper"),
                                 py::arg("allow_unicode") = true, py::arg("sort_keys") = false,
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
        raise_value_error_from(error, "cannot save '" + path + "': " + culprit +
                                          " cannot be written as YAML");
    }
}

std::chrono::milliseconds lock_timeout(py::handle self) {
    const double seconds = py::float_(self.attr("lock_timeout")).cast<double>();
    if (!(seconds >= 0) || !std::isfinite(seconds)) {
        throw py::value_error("lock_timeout must be a finite number of seconds >= 0, not " +
                              to_repr(self.attr("lock_timeout")));
    }
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// Waits for the file's lock without holding the GIL, still answering Ctrl-C.
void lock_file(std::optional<core::FileLock> &lock, const std::string &path,
               std::chrono::milliseconds timeout) {
    try {
        py::gil_scoped_release waiting;
        lock.emplace(path, timeout, [] {
            py::gil_scoped_acquire gil;
            if (PyErr_CheckSignals() != 0) {
                throw py::error_already_set();
            }
        });
    } catch (const core::LockTimeout &error) {
        PyErr_SetString(PyExc_TimeoutError, error.what());
        throw py::error_already_set();
    } catch (const core::FileError &error) {
        raise_os_error(error);
    }
}

void save(py::object self) {
    const std::string path = path_of(self);
    py::set changes = changed_keys(self);
    std::optional<core::FileLock> lock;
    lock_file(lock, path, lock_timeout(self));
    // Holding the lock, no save of this file is under way: any temporary file left is
    // from a save that was killed.
    core::remove_interrupted_saves(path);
    py::dict merged;
    try {
        if (auto content = core::read_file_if_exists(path)) {
            merged = parse_document(path, *content);
        }
    } catch (const core::FileError &error) {
        raise_os_error(error);
    }
    for (auto [key, value] : py::reinterpret_borrow<py::dict>(self)) {
        if (changes.contains(key)) {
            merged[key] = value;
        }
    }
    for (auto key : changes) {
        if (!py::reinterpret_borrow<py::dict>(self).contains(key) && merged.contains(key)) {
            PyDict_DelItem(merged.ptr(), key.ptr());
        }
    }
    const std::string content = serialize(merged, path);
    try {
        core::write_file_atomically(path, content);
    } catch (const core::FileError &error) {
        raise_os_error(error);
    }
    PySet_Clear(changes.ptr());
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
    ns["__setitem__"] =
        method(&set_item, "__setitem__", py::arg("self"), py::arg("key"), py::arg("value"));
    ns["__delitem__"] = method(&del_item, "__delitem__", py::arg("self"), py::arg("key"));
    ns["__ior__"] = method(&inplace_or, "__ior__", py::arg("self"), py::arg("other"));
    ns["update"] = method(&update, "update", py::arg("self"));
    ns["setdefault"] = method(&set_default, "setdefault", py::arg("self"), py::arg("key"),
                              py::arg("default") = py::none());
    ns["pop"] = method(&pop, "pop", py::arg("self"), py::arg("key"));
    ns["popitem"] = method(&pop_item, "popitem", py::arg("self"));
    ns["clear"] = method(&clear, "clear", py::arg("self"));
    ns["lock_timeout"] = 30.0;
    ns["save"] = method(&save, "save", py::arg("self"),
                        "save() -> None\n\n"
                        "Writes the keys assigned or removed since the last save into the "
                        "file at `path` as it is now, keeping what other processes saved "
                        "meanwhile, as block-style YAML (UTF-8, non-ASCII text kept readable, "
                        "keys in their order). Saves of one file take turns through a lock "
                        "file beside it (TimeoutError naming the file after `lock_timeout` "
                        "seconds, 30 by default). The file is replaced in one step: an "
                        "interrupted or failed save leaves the previous file intact, and the "
                        "next save removes the temporary file a killed one left.");
    ns["__repr__"] = method(&yaml_file_repr, "__repr__", py::arg("self"));
    make_class(m, "YamlFile", py::make_tuple(py::module_::import("builtins").attr("dict")), ns,
               "YamlFile(path)\n\n"
               "A dict bound to a YAML file: the file's mapping is loaded when the object is "
               "made (no file: empty; an empty file: empty; invalid YAML or a document that "
               "is not a mapping: ValueError), and save() merges the keys changed since "
               "into the file.");
}

} // namespace lumox::files

PYBIND11_MODULE(files, m) {
    m.doc() = "Files of a lumox run: YamlFile, the YAML mapping behind the variables file.";
    lumox::files::add_yaml_file(m);
}

#include "arguments.hpp"

#include "core/references.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

#include <string>

namespace lumox::workbooks {

namespace {

py::object *variable_error = nullptr; // lumox.workbooks.VariableError, kept for the process

[[noreturn]] void raise_undefined(const std::string &name) {
    PyErr_SetString(variable_error->ptr(), ("undefined variable '" + name + "'").c_str());
    throw py::error_already_set();
}

// Looks `name` up among the run's variables; false when it is none of them.
bool find_variable(const std::string &name, py::handle own, py::handle globals, py::handle saved,
                   py::object &value) {
    py::str key(name);
    for (py::handle variables : {own, globals, saved}) {
        if (PyMapping_Check(variables.ptr()) && variables.contains(key)) {
            value = variables[key];
            return true;
        }
    }
    return false;
}

// The text a variable stands for inside a longer argument: texts as they are, everything
// else as JSON. A value that contains itself, or would grow beyond any request written out
// (a document of nested aliases), is an error naming the variable, before any JSON is made.
std::string text_of(py::handle value, const std::string &name) {
    if (PyUnicode_Check(value.ptr())) {
        return lumox::py_helpers::utf8_text(value);
    }
    py::module_ templates = py::module_::import("lumox.templates");
    py::object checked;
    try {
        checked = templates.attr("checked_value")(value);
    } catch (py::error_already_set &error) {
        if (!error.matches(templates.attr("TemplateError"))) {
            throw;
        }
        py::raise_from(error, PyExc_ValueError,
                       ("variable '" + name + "' cannot be written into the text: " +
                        lumox::py_helpers::to_str(error.value()))
                           .c_str());
        throw py::error_already_set();
    }
    py::module_ json = py::module_::import("json");
    try {
        return lumox::py_helpers::utf8_text(
            json.attr("dumps")(checked, py::arg("ensure_ascii") = false));
    } catch (py::error_already_set &error) {
        // Values JSON cannot write (dates, objects): their str().
        if (!error.matches(PyExc_TypeError) && !error.matches(PyExc_ValueError)) {
            throw;
        }
        return lumox::py_helpers::to_str(checked);
    }
}

py::object substitute(py::handle argument, py::handle own, py::handle globals, py::handle saved) {
    if (!PyUnicode_Check(argument.ptr())) {
        return py::reinterpret_borrow<py::object>(argument);
    }
    const std::string text = lumox::py_helpers::utf8_text(argument);
    py::object value;
    if (auto name = core::sole_reference(text)) {
        if (!find_variable(std::string(*name), own, globals, saved, value)) {
            raise_undefined(std::string(*name));
        }
        return value;
    }
    const auto pieces = core::split_references(text);
    if (pieces.size() == 1 && !pieces.front().is_reference && pieces.front().text == text) {
        return py::reinterpret_borrow<py::object>(argument); // nothing to replace
    }
    std::string out;
    for (const core::TextPiece &piece : pieces) {
        if (!piece.is_reference) {
            out += piece.text;
            continue;
        }
        if (!find_variable(piece.text, own, globals, saved, value)) {
            raise_undefined(piece.text);
        }
        out += text_of(value, piece.text);
    }
    return py::str(out);
}

py::object template_globals() { return py::module_::import("lumox.templates").attr("env_globals"); }

} // namespace

void define_variable_error(py::module_ &module) {
    py::object lookup_error = py::module_::import("builtins").attr("LookupError");
    variable_error = new py::object(lumox::py_helpers::make_class(
        module, "VariableError", py::make_tuple(lookup_error), py::dict(),
        "A step argument refers to {name}, and name is no variable of the run."));
}

py::tuple substitute_arguments(py::handle args, py::handle exchanger, py::handle own) {
    py::object globals = template_globals();
    py::object saved = exchanger.attr("file");
    py::tuple given = py::reinterpret_borrow<py::tuple>(args);
    py::tuple out(given.size());
    for (std::size_t i = 0; i < given.size(); ++i) {
        out[i] = substitute(given[i], own, globals, saved);
    }
    return out;
}

py::dict snapshot_saved_variables(py::handle exchanger) {
    return py::dict(py::module_::import("builtins").attr("dict")(exchanger.attr("file")));
}

void publish_saved_variables(py::handle exchanger, py::handle before) {
    py::dict earlier = py::reinterpret_borrow<py::dict>(before);
    py::dict changed;
    for (auto [name, value] : snapshot_saved_variables(exchanger)) {
        if (!PyUnicode_Check(name.ptr())) {
            continue;
        }
        if (!earlier.contains(name) || earlier[name].ptr() != value.ptr()) {
            changed[name] = value;
        }
    }
    if (!changed.empty()) {
        py::module_::import("lumox.templates").attr("add_globals")(**changed);
    }
}

} // namespace lumox::workbooks

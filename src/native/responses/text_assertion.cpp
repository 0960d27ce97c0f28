#include "text_assertion.hpp"

#include "core/text_check.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/regex.hpp"

#include <optional>

namespace lumox::responses {
namespace {

using core::TextMode;
using py_helpers::method;
using py_helpers::to_repr;
using py_helpers::to_str;

const char *const kFields[] = {"name", "value", "mode", "msg"};

[[noreturn]] void raise_value_error(const std::string &message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    throw py::error_already_set();
}

// The mode of a record, read afresh so that a record changed after construction is
// still judged by what it says. A missing or empty mode is the default, glob.
TextMode mode_of(py::handle name, py::handle mode) {
    if (mode.is_none()) {
        return TextMode::glob;
    }
    if (!py::isinstance<py::str>(mode)) {
        raise_value_error(to_str(name) + ": assertion mode must be text, got " +
                          to_str(py::type::handle_of(mode).attr("__name__")));
    }
    std::string word = mode.cast<std::string>();
    if (word.empty()) {
        return TextMode::glob;
    }
    std::optional<TextMode> parsed = core::parse_text_mode(word);
    if (!parsed) {
        raise_value_error(to_str(name) + ": unknown assertion mode '" + word + "' (use " +
                          std::string(core::text_mode_names()) + ")");
    }
    return *parsed;
}

void init_record(py::object self, py::object name, py::object value, py::object mode,
                 py::object msg) {
    TextMode parsed = mode_of(name, mode);
    // The value is always matched by its text form: 200 in YAML means the text "200".
    py::str value_text(value);
    if (parsed == TextMode::re) {
        try {
            py_helpers::check_regex(value_text.cast<std::string>(), to_str(name));
        } catch (py::error_already_set &error) {
            if (!error.matches(py::module_::import("re").attr("error"))) {
                throw;
            }
            py::raise_from(error, PyExc_ValueError, to_str(error.value()).c_str());
            throw py::error_already_set();
        }
    }
    self.attr("name") = name;
    self.attr("value") = value_text;
    self.attr("mode") = py::str(core::text_mode_name(parsed));
    self.attr("msg") = msg;
}

py::str record_repr(py::object self) {
    std::string text = to_str(py::type::handle_of(self).attr("__name__")) + "(";
    bool first = true;
    for (const char *field : kFields) {
        if (!first) {
            text += ", ";
        }
        first = false;
        text += field;
        text += "=";
        text += to_repr(py::getattr(self, field, py::none()));
    }
    return py::str(text + ")");
}

bool matches(py::handle self, const std::string &actual) {
    TextMode mode = mode_of(self.attr("name"), self.attr("mode"));
    std::string expected = to_str(self.attr("value"));
    if (mode == TextMode::re) {
        return py_helpers::regex_search(expected, actual, to_str(self.attr("name")));
    }
    return core::plain_text_matches(mode, expected, actual);
}

py::bool_ validate(py::object self, py::object text) {
    // Whatever the caller hands over, the text form is what gets searched or matched.
    return py::bool_(matches(self, to_str(text)));
}

std::string expectation(py::handle assertion) {
    TextMode mode = mode_of(assertion.attr("name"), assertion.attr("mode"));
    return core::describe_expectation(mode, to_repr(py::str(assertion.attr("value"))));
}

std::string with_custom_message(py::handle assertion, const std::string &reason) {
    py::object msg = py::getattr(assertion, "msg", py::none());
    if (py::bool_(msg)) {
        return to_str(msg) + " (" + reason + ")";
    }
    return reason;
}

py::object build(py::object name, py::object data) {
    py::object record_class = py::module_::import("lumox.responses").attr("TextAssertion");
    py::object mapping_abc = py::module_::import("collections.abc").attr("Mapping");
    if (!py::isinstance(data, mapping_abc)) {
        return record_class(name, data);
    }
    py::object value = py::none();
    py::object mode = py::none();
    py::object msg = py::none();
    bool has_value = false;
    for (auto item : data.attr("items")()) {
        auto pair = item.cast<py::tuple>();
        py::object key = pair[0];
        std::string key_text = to_str(key);
        if (py::isinstance<py::str>(key) && key_text == "value") {
            value = pair[1];
            has_value = true;
        } else if (py::isinstance<py::str>(key) && key_text == "mode") {
            mode = pair[1];
        } else if (py::isinstance<py::str>(key) && key_text == "msg") {
            msg = pair[1];
        } else {
            // A misspelt key would otherwise be dropped and the check silently weakened.
            raise_value_error(to_str(name) + ": unknown assertion key " + to_repr(key) +
                              " (use value, mode, msg)");
        }
    }
    if (!has_value) {
        raise_value_error(to_str(name) + ": assertion mapping has no 'value'");
    }
    return record_class(name, value, mode, msg);
}

} // namespace

py::object form_asserts(py::handle name, py::handle data) {
    return build(py::reinterpret_borrow<py::object>(name),
                 py::reinterpret_borrow<py::object>(data));
}

std::string check_text(py::handle assertion, py::handle actual) {
    std::string actual_text = to_str(actual);
    if (matches(assertion, actual_text)) {
        return {};
    }
    std::string reason = expectation(assertion) + ", got " + to_repr(py::str(actual_text));
    if (mode_of(assertion.attr("name"), assertion.attr("mode")) == core::TextMode::glob) {
        const std::string hint = core::glob_hint(to_str(assertion.attr("value")), actual_text);
        if (!hint.empty()) {
            reason += " (" + hint + ")";
        }
    }
    return with_custom_message(assertion, reason);
}

std::string missing_reason(py::handle assertion, const std::string &what_is_missing) {
    return with_custom_message(assertion, expectation(assertion) + ", but " + what_is_missing);
}

void add_text_assertion_classes(py::module_ &m) {
    py::dict record_ns;
    record_ns["__init__"] =
        method(&init_record, "init", py::arg("self"), py::arg("name"), py::arg("value"),
               py::arg("mode") = py::none(), py::arg("msg") = py::none());
    record_ns["__repr__"] = method(&record_repr, "__repr__", py::arg("self"));
    record_ns["validate"] = method(&validate, "validate", py::arg("self"), py::arg("text"),
                                   "True when the text form of `text` satisfies the assertion.");
    py_helpers::make_class(
        m, "TextAssertion", py::make_tuple(py::module_::import("builtins").attr("object")),
        record_ns,
        "One text assertion: `name` (what is checked), `value` (expected, as text), `mode` "
        "(glob, same, re or contains) and an optional custom failure message `msg`.");

    py::dict field_ns;
    field_ns["form_asserts"] =
        py_helpers::static_method(&build, "form_asserts", py::arg("name"), py::arg("data"),
                                  "Builds a TextAssertion from a plain value (glob pattern) or "
                                  "a mapping {value, mode, msg}.");
    py_helpers::make_class(m, "TextField",
                           py::make_tuple(py::module_::import("builtins").attr("object")), field_ns,
                           "Builder of text assertions.");
}

} // namespace lumox::responses

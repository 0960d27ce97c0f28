// lumox.assertion: the checks of `validate` steps (new_assertion) and the pairwise
// assertion executor (Assertion), each comparison shown as a report step.
#include "core/text_check.hpp"
#include "native/common/errors.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/step.hpp"

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace py = pybind11;

namespace {

using lumox::py_helpers::get_logger;
using lumox::py_helpers::Logger;
using lumox::py_helpers::method;
using lumox::py_helpers::to_repr;
using lumox::py_helpers::to_str;

const Logger &logger() { return get_logger("lumox.assertion"); }

[[noreturn]] void raise_assertion(py::handle message, const std::string &note = {}) {
    // Built as an instance first so that a tuple message stays one argument.
    py::object error = py::reinterpret_borrow<py::object>(PyExc_AssertionError)(message);
    PyErr_SetObject(PyExc_AssertionError, error.ptr());
    py::error_already_set raised;
    if (!note.empty()) {
        lumox::py_helpers::add_note(raised, note);
    }
    throw raised;
}

// What the check compared, the pattern as written; and, when a glob pattern holds the
// characters that make it a pattern and the value is that very text, why it still failed.
std::string explain(py::handle assert_name, py::handle text_assert, const std::string &text) {
    py::object pattern = text_assert.attr("value");
    py::object mode = text_assert.attr("mode");
    const std::string mode_name = mode.is_none() ? "glob" : to_str(mode);
    std::string note = "validate: " + to_str(assert_name) + " is " + to_repr(py::str(text)) +
                       "; the pattern as written: " + to_repr(pattern) + " (mode " + mode_name +
                       ")";
    if (mode_name == "glob" || mode_name.empty()) {
        const std::string hint = lumox::core::glob_hint(to_str(pattern), text);
        if (!hint.empty()) {
            note += "; " + hint;
        }
    }
    return note;
}

void new_assertion(py::object assert_name, py::object assert_data) {
    py::object text_assert = py::module_::import("lumox.responses")
                                 .attr("TextField")
                                 .attr("form_asserts")(assert_name, assert_data);
    py::object fields = py::module_::import("builtins").attr("vars")(text_assert);
    if (logger().debug_enabled()) {
        logger().debug("text_assert = " + to_str(fields));
    }

    // The template globals are looked up at each call: extractions of earlier steps
    // add to them for the rest of the run.
    py::object env_globals = py::module_::import("lumox.templates").attr("env_globals");
    std::string text_value =
        env_globals.contains(assert_name) ? to_str(env_globals[assert_name]) : to_str(assert_name);
    if (logger().debug_enabled()) {
        logger().debug("text_value=" + text_value);
    }

    py::object is_passed = text_assert.attr("validate")(py::str(text_value));
    std::string line = "    " + to_str(assert_name) + ": is_passed=" + to_repr(is_passed);
    if (py::bool_(is_passed)) {
        logger().info(line);
        return;
    }
    logger().error(line);
    py::object msg = py::getattr(text_assert, "msg", py::none());
    const std::string note = explain(assert_name, text_assert, text_value);
    if (py::bool_(msg)) {
        raise_assertion(msg, note);
    }
    raise_assertion(py::str(to_str(assert_name) + " is '" + text_value +
                            "' and does not match the pattern '" + to_str(fields) + "'."),
                    note);
}

enum class Check { equals, not_equals, in, not_in };

struct Comparison {
    Check check;
    const char *symbol;
};

// The comparison named by assert_type; nothing for a type this executor does not know.
std::optional<Comparison> comparison_for(const std::string &type) {
    if (type == "equals") {
        return Comparison{Check::equals, " == "};
    }
    if (type == "not_equals" || type == "not equals") {
        return Comparison{Check::not_equals, " != "};
    }
    if (type == "in") {
        return Comparison{Check::in, " in "};
    }
    if (type == "not_in" || type == "not in") {
        return Comparison{Check::not_in, " not in "};
    }
    return std::nullopt;
}

// Python's `a in b`: __contains__, else iteration, else TypeError.
bool contained(py::handle a, py::handle b) {
    int found = PySequence_Contains(b.ptr(), a.ptr());
    if (found < 0) {
        throw py::error_already_set();
    }
    return found == 1;
}

bool holds(Check check, py::handle a, py::handle b) {
    switch (check) {
    case Check::equals:
        return a.equal(b);
    case Check::not_equals:
        return a.not_equal(b);
    case Check::in:
        return contained(a, b);
    case Check::not_in:
        return !contained(a, b);
    }
    return false;
}

void check_entry(const std::optional<Comparison> &comparison, py::handle assert_type,
                 py::handle msg, py::handle a, py::handle b) {
    if (!comparison) {
        std::string message = "未知的断言方式: " + to_str(assert_type);
        logger().warning(message);
        raise_assertion(py::str(message));
    }
    // Logged before the check, so a comparison that errors out is still in the log.
    logger().info("assert " + to_str(a) + comparison->symbol + to_str(b) + ", " + to_str(msg));
    if (!holds(comparison->check, a, b)) {
        raise_assertion(msg);
    }
}

void run_assertions(py::object self, py::object assert_type, py::object assert_data) {
    (void)self;
    std::optional<Comparison> comparison;
    if (py::isinstance<py::str>(assert_type)) {
        comparison = comparison_for(assert_type.cast<std::string>());
    }
    py::object represent = py::module_::import("allure_commons.utils").attr("represent");
    for (auto item : assert_data.attr("items")()) {
        auto pair = item.cast<py::tuple>();
        py::object msg = pair[0];
        py::object data = pair[1];
        py::object a = data[py::int_(0)];
        py::object b = data[py::int_(1)];
        // The report writes its parameters as JSON; shown as text, any value fits.
        py::dict params;
        if (lumox::py_helpers::steps_recorded()) {
            params["msg"] = represent(msg);
            params["a"] = represent(a);
            params["assert_type"] = represent(assert_type);
            params["b"] = represent(b);
        }
        lumox::py_helpers::in_step("执行断言", params,
                                   [&] { check_entry(comparison, assert_type, msg, a, b); });
    }
}

} // namespace

PYBIND11_MODULE(assertion, m) {
    m.doc() = "Assertions of YAML validate steps (new_assertion) and the pairwise assertion "
              "executor (Assertion).";
    m.attr("logger") = logger().object();
    m.def("new_assertion", &new_assertion, py::arg("assert_name"), py::arg("assert_data"),
          "Checks the run variable `assert_name` (or the name itself as text when no such "
          "variable exists) against the text assertion `assert_data`; raises AssertionError "
          "when it does not match.");

    py::dict ns;
    ns["__init__"] = method(&run_assertions, "init", py::arg("self"), py::arg("assert_type"),
                            py::arg("assert_data"));
    lumox::py_helpers::make_class(
        m, "Assertion", py::make_tuple(py::module_::import("builtins").attr("object")), ns,
        "Assertion(assert_type, assert_data): checks every entry msg -> [a, b] of "
        "`assert_data` with equals, not_equals / 'not equals', in or not_in / 'not in', each "
        "as a report step '执行断言'; the first failure raises AssertionError(msg).");
}

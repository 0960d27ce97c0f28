// Validator: the assertion behind the `assert` keyword. Constructing one runs the
// assertion method named by the tester on the expected and the actual value.
#include "actlib_utils.hpp"

#include "core/suggestions.hpp"
#include "native/common/errors.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/regex.hpp"

#include <string>

namespace lumox::actlib_utils {

namespace {

using py_helpers::method;
using py_helpers::to_repr;
using py_helpers::to_str;

constexpr const char *kSchemaDraft = "https://json-schema.org/draft/2020-12/schema";

const std::vector<std::string> kAssertions = {"equal", "contains", "in", "re", "scheme"};

// An AssertionError with `message` (none: a bare one), and `note` below it for the report.
[[noreturn]] void fail(const std::string &message = {}, const std::string &note = {}) {
    if (message.empty()) {
        PyErr_SetNone(PyExc_AssertionError);
    } else {
        PyErr_SetString(PyExc_AssertionError, message.c_str());
    }
    py::error_already_set error;
    if (!note.empty()) {
        py_helpers::add_note(error, note);
    }
    throw error;
}

// "200 (int)", "'200' (str)": the value as Python writes it, and its type.
std::string typed(py::handle value) {
    return to_repr(value) + " (" + to_str(py::type::handle_of(value).attr("__name__")) + ")";
}

std::string type_hint(py::handle a, py::handle b) {
    if (py::type::handle_of(a).is(py::type::handle_of(b)) || !py::str(a).equal(py::str(b))) {
        return {};
    }
    return "; they look the same but their types differ: a number saved from a response "
           "stays a number, a cell or text in quotes is text";
}

void init_validator(py::object self, py::object parent, py::object value, py::object assert_name,
                    py::object actual_value) {
    self.attr("parent") = parent;
    self.attr("webdriver") = parent.attr("driver");
    self.attr("value") = value;
    self.attr("verify_name") = assert_name;
    self.attr("actual_value") = actual_value;

    py::object assertion = py::getattr(self, ("assert_" + to_str(assert_name)).c_str(), py::none());
    if (assertion.is_none()) {
        std::string names;
        for (const std::string &name : kAssertions) {
            names += (names.empty() ? "" : ", ") + name;
        }
        const std::string hint =
            core::did_you_mean(core::closest_names(to_str(assert_name), kAssertions));
        fail("未知的断言方法", "assert: no assertion " + to_repr(assert_name) +
                                   (hint.empty() ? "" : ", " + hint) + " (the assertions are " +
                                   names + ")");
    }
    assertion(value, actual_value);
    if (logger().info_enabled()) {
        logger().info("断言通过");
    }
}

void assert_equal(py::object, py::object a, py::object b) {
    if (!a.equal(b)) {
        fail({}, "assert: " + typed(a) + " equal " + typed(b) + " is false" + type_hint(a, b));
    }
}

void assert_contains(py::object, py::object a, py::object b) {
    if (!a.contains(b)) {
        fail({}, "assert: " + typed(b) + " was looked for in " + typed(a) + " and not found");
    }
}

void assert_in(py::object, py::object a, py::object b) {
    if (!b.contains(a)) {
        fail({}, "assert: " + typed(a) + " was looked for in " + typed(b) + " and not found");
    }
}

void assert_re(py::object, py::object a, py::object b) {
    // Values saved from responses keep their types (a status code is an int) and workbook
    // cells holding numbers stay numbers, so both sides are searched as text.
    if (!py_helpers::regex_search(to_str(a), to_str(b), "assert re")) {
        fail("Regex didn't match: " + to_str(a) + " not found in " + to_str(b));
    }
}

py::object parsed_json(py::object value) {
    if (py::isinstance<py::str>(value)) {
        return py::module_::import("json").attr("loads")(value);
    }
    return value;
}

void assert_scheme(py::object, py::object a, py::object b) {
    a = parsed_json(a);
    b = parsed_json(b);
    py::object builder =
        py::module_::import("genson").attr("SchemaBuilder")(py::arg("schema_uri") = kSchemaDraft);
    builder.attr("add_object")(a);
    py::object schema = builder.attr("to_schema")();
    try {
        py::module_::import("jsonschema").attr("validate")(b, schema);
    } catch (py::error_already_set &error) {
        if (!error.matches(py::module_::import("jsonschema.exceptions").attr("ValidationError"))) {
            throw;
        }
        const std::string message =
            "Response schema invalid  ( a=" + to_repr(a) + " on b=" + to_repr(b) + ")";
        py::object problem = error.value();
        const std::string note = "scheme: at " + to_str(problem.attr("json_path")) + ": " +
                                 to_str(problem.attr("message")) + " (rule " +
                                 to_str(problem.attr("validator")) + ": " +
                                 to_repr(problem.attr("validator_value")) + ")";
        // The validation error stays attached as the cause as well.
        py::raise_from(error, PyExc_AssertionError, message.c_str());
        py::error_already_set raised;
        py_helpers::add_note(raised, note);
        throw raised;
    }
}

} // namespace

py::object define_validator(py::module_ &module) {
    py::dict ns;
    ns["__init__"] = method(&init_validator, "init", py::arg("self"), py::arg("parent"),
                            py::arg("value"), py::arg("assert_name"), py::arg("actual_value"));
    ns["assert_equal"] = method(&assert_equal, "assert_equal", py::arg("self"), py::arg("a"),
                                py::arg("b"), "字符串 a 等于 b");
    ns["assert_contains"] = method(&assert_contains, "assert_contains", py::arg("self"),
                                   py::arg("a"), py::arg("b"), "字符串 a 包含 b");
    ns["assert_in"] = method(&assert_in, "assert_in", py::arg("self"), py::arg("a"), py::arg("b"),
                             "字符串 a 被 b 包含");
    ns["assert_re"] = method(&assert_re, "assert_re", py::arg("self"), py::arg("a"), py::arg("b"),
                             "正则表达表达a 可以匹配 字符串b");
    ns["assert_scheme"] = method(&assert_scheme, "assert_scheme", py::arg("self"), py::arg("a"),
                                 py::arg("b"), "数据 b 符合从样例 a 推导出的JSON结构");
    return py_helpers::make_class(module, "Validator", py::tuple(), ns,
                                  "验证器\n执行复杂的断言表达式");
}

} // namespace lumox::actlib_utils

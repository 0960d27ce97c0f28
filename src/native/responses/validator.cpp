#include "validator.hpp"

#include "core/case_format.hpp"
#include "core/text_check.hpp"
#include "native/common/pylog.hpp"
#include "text_assertion.hpp"

#include <string>
#include <vector>

namespace lumox::responses {
namespace {

using py_helpers::to_repr;
using py_helpers::to_str;

// How much of a non-JSON body a reason quotes.
constexpr std::size_t kBodyPreview = 200;

std::string type_name(py::handle value) {
    return to_str(py::type::handle_of(value).attr("__name__"));
}

[[noreturn]] void raise_error(PyObject *type, const std::string &message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

bool is_mapping(py::handle value) {
    return py::isinstance(value, py::module_::import("collections.abc").attr("Mapping"));
}

py::object items_of(py::handle section, const char *section_name, const char *what) {
    if (!is_mapping(section)) {
        raise_error(PyExc_TypeError, std::string(section_name) + ": expected a mapping of " + what +
                                         " to assertion, got " + type_name(section));
    }
    return section.attr("items")();
}

void add_status_patterns(py::handle expected, std::vector<std::string> &patterns) {
    if (py::isinstance<py::int_>(expected) && !py::isinstance<py::bool_>(expected)) {
        patterns.push_back(to_str(expected));
        return;
    }
    if (py::isinstance<py::str>(expected)) {
        core::StatusAlternatives parsed =
            core::parse_status_alternatives(expected.cast<std::string>());
        if (!parsed.error.empty()) {
            raise_error(PyExc_ValueError, "status_code: " + parsed.error);
        }
        patterns.insert(patterns.end(), parsed.patterns.begin(), parsed.patterns.end());
        return;
    }
    raise_error(PyExc_TypeError,
                "status_code: expected a status code, alternatives such as '200 | 204' or a "
                "list of codes, got " +
                    type_name(expected));
}

void check_status(py::handle resp, py::handle expected, py::dict &errors) {
    std::vector<std::string> patterns;
    if (py::isinstance<py::list>(expected) || py::isinstance<py::tuple>(expected)) {
        for (py::handle one : expected) {
            add_status_patterns(one, patterns);
        }
        if (patterns.empty()) {
            raise_error(PyExc_ValueError, "status_code: the list of codes is empty");
        }
    } else {
        add_status_patterns(expected, patterns);
    }
    long code = resp.attr("status_code").cast<long>();
    if (!core::status_matches(patterns, code)) {
        errors["status_code"] =
            "expected " + core::join_alternatives(patterns) + ", got " + std::to_string(code);
    }
}

void check_headers(py::handle resp, py::handle section, py::dict &errors) {
    py::object headers = resp.attr("headers");
    for (auto item : items_of(section, "headers", "header name")) {
        auto pair = item.cast<py::tuple>();
        std::string key = "headers." + to_str(pair[0]);
        py::object assertion = form_asserts(pair[0], pair[1]);
        // Header names are case-insensitive; the response's own lookup knows that.
        py::object actual = headers.attr("get")(pair[0]);
        std::string reason = actual.is_none() ? missing_reason(assertion, "the header is missing")
                                              : check_text(assertion, actual);
        if (!reason.empty()) {
            errors[py::str(key)] = reason;
        }
    }
}

void check_body_text(py::handle resp, py::handle expected, py::dict &errors) {
    std::string reason = check_text(form_asserts(py::str("text"), expected), resp.attr("text"));
    if (!reason.empty()) {
        errors["text"] = reason;
    }
}

void check_json(py::handle resp, py::handle section, py::dict &errors) {
    py::object entries = items_of(section, "json", "JSONPath expression");
    py::object body;
    try {
        body = resp.attr("json")();
    } catch (py::error_already_set &error) {
        if (!error.matches(py::module_::import("json").attr("JSONDecodeError"))) {
            throw;
        }
        py::object text = resp.attr("text");
        errors["json"] =
            "expected a JSON body, got " + to_repr(text[py::slice(0, kBodyPreview, 1)]);
        return;
    }
    py::object jsonpath = py::module_::import("jsonpath").attr("jsonpath");
    for (auto item : entries) {
        auto pair = item.cast<py::tuple>();
        if (!py::isinstance<py::str>(pair[0])) {
            raise_error(PyExc_TypeError, "json: a JSONPath expression must be text, got " +
                                             type_name(pair[0]) + " " + to_repr(pair[0]));
        }
        std::string expr = pair[0].cast<std::string>();
        py::object assertion = form_asserts(pair[0], pair[1]);
        py::object found = jsonpath(body, pair[0]);
        std::string reason = py::bool_(found)
                                 ? check_text(assertion, found[py::int_(0)])
                                 : missing_reason(assertion, "nothing matches " + expr);
        if (!reason.empty()) {
            errors[py::str("json." + expr)] = reason;
        }
    }
}

} // namespace

py::dict validator(py::object resp, py::kwargs sections) {
    // Refuse unknown sections before checking anything, as a misspelt keyword would be.
    for (auto item : sections) {
        const std::string section = to_str(item.first);
        if (!core::response_key(section)) {
            raise_error(PyExc_TypeError,
                        "validator() got an unexpected keyword argument '" + section + "'");
        }
    }
    py::dict errors;
    for (auto item : sections) {
        switch (*core::response_key(to_str(item.first))) {
        case core::ResponseKey::StatusCode:
            check_status(resp, item.second, errors);
            break;
        case core::ResponseKey::Headers:
            check_headers(resp, item.second, errors);
            break;
        case core::ResponseKey::Text:
            check_body_text(resp, item.second, errors);
            break;
        case core::ResponseKey::Json:
            check_json(resp, item.second, errors);
            break;
        }
    }
    return errors;
}

} // namespace lumox::responses

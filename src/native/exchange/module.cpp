// lumox.exchange: the run's variable store. Takes values out of HTTP responses (JSONPath,
// regular expression or literal), publishes them as template globals for later steps,
// and writes the plain-valued ones to the variables file.
#include "core/jsonpath_check.hpp"
#include "native/common/errors.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/regex.hpp"
#include "native/common/step.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace py = pybind11;

namespace {

using lumox::py_helpers::get_logger;
using lumox::py_helpers::Logger;
using lumox::py_helpers::method;
using lumox::py_helpers::raise_error;
using lumox::py_helpers::to_repr;
using lumox::py_helpers::to_str;

const char *const kDefaultVarsFile = "FileNotFoundError.yaml";
const char *const kNoMatch = "not data";

const Logger &logger() { return get_logger("lumox.exchange"); }

// Variables whose last extraction found nothing -> how ("extract 'token': '$.tok' found
// nothing in json"), so that a later failure can say where a "not data" came from. The
// YAML case runner empties it when a case starts.
py::dict &misses() {
    static py::dict *found = new py::dict(); // lives for the process
    return *found;
}

py::object templates() { return py::module_::import("lumox.templates"); }

std::string type_name(py::handle value) {
    return to_str(py::type::handle_of(value).attr("__name__"));
}

[[noreturn]] void raise_type_error(const std::string &message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw py::error_already_set();
}

void init_exchange(py::object self, py::object path, py::object data, py::object debug) {
    self.attr("_debug") = debug;
    self.attr("_data") = data;
    py::object file_path = py::bool_(path) ? path : py::str(kDefaultVarsFile);
    self.attr("file") = py::module_::import("lumox.files").attr("YamlFile")(file_path);
}

// The response copy's `json` attribute: the parsed body, or a stand-in mapping when the
// body is not JSON (so a "$" expression simply finds nothing).
py::object parsed_body(py::handle resp) {
    try {
        return resp.attr("json")();
    } catch (py::error_already_set &error) {
        if (!error.matches(py::module_::import("json").attr("JSONDecodeError"))) {
            throw;
        }
        py::dict stand_in;
        stand_in["msg"] = " is not json data";
        return stand_in;
    }
}

// JSONPath runs on plain JSON structures. A parsed body (dict or list) is used as it is;
// mapping-like objects such as httpx Headers or Cookies become a dict first.
py::object jsonpath_input(py::object data) {
    if (py::isinstance<py::dict>(data) || py::isinstance<py::list>(data)) {
        return data;
    }
    return py::dict(data);
}

constexpr const char *kResponseAttributes =
    "json, text, content, headers, cookies, status_code, url, reason_phrase, http_version, "
    "encoding, or str for the expression itself";

// "extract 'token'", how messages name the variable being extracted.
std::string extracting(py::handle var_name) { return "extract " + to_repr(var_name); }

// All matches of `expr` in `data`: a list (possibly empty), or a false value for none. A
// malformed expression is an error naming the variable, never "no match".
py::object find_matches(py::handle data, const std::string &expr, py::handle var_name) {
    if (!expr.empty() && expr[0] == '/') {
        return py::none();
    }
    if (!expr.empty() && expr[0] == '$') {
        const std::string problem = lumox::core::jsonpath_problem(expr);
        if (!problem.empty()) {
            raise_error(PyExc_ValueError, extracting(var_name) + ": " + to_repr(py::str(expr)) +
                                              " is not a valid JSONPath: " + problem);
        }
        return py::module_::import("jsonpath")
            .attr("jsonpath")(jsonpath_input(py::reinterpret_borrow<py::object>(data)), expr);
    }
    return lumox::py_helpers::regex_findall(expr, to_str(data), extracting(var_name));
}

constexpr const char *kParsedBodyAttr = "_lumox_parsed_json";

// The response attribute a value is extracted from ("json": the parsed body, parsed once
// per response however many extracts read it); a clear error for a name it lacks.
py::object response_part(py::handle response, py::handle attr, py::handle var_name) {
    if (py::isinstance<py::str>(attr) && attr.cast<std::string>() == "json") {
        py::object parsed = py::getattr(response, kParsedBodyAttr, py::none());
        if (parsed.is_none()) {
            parsed = parsed_body(response);
            py::setattr(response, kParsedBodyAttr, parsed);
        }
        return parsed;
    }
    if (!py::isinstance<py::str>(attr) ||
        !py::hasattr(response, attr.cast<std::string>().c_str())) {
        raise_error(PyExc_AttributeError, extracting(var_name) + ": the response has no " +
                                              to_repr(attr) + "; extract from " +
                                              kResponseAttributes);
    }
    return response.attr(attr);
}

// Match number `index` of `matches`, or an error that says how many there are.
py::object pick(py::handle matches, py::handle index, py::handle var_name, py::handle attr,
                const std::string &expr) {
    const auto count = py::len(matches);
    const auto wanted = index.cast<py::ssize_t>();
    if (wanted >= static_cast<py::ssize_t>(count) || wanted < -static_cast<py::ssize_t>(count)) {
        raise_error(PyExc_IndexError, extracting(var_name) + ": index " + std::to_string(wanted) +
                                          " is past the " + std::to_string(count) +
                                          " match(es) of " + to_repr(py::str(expr)) + " in " +
                                          to_str(attr) + " (indexes start at 0)");
    }
    return matches[index];
}

void extract_into(py::object self, py::object resp, py::object var_name, py::object attr,
                  py::object expr, py::object index) {
    // A template variable needs a name a template can spell.
    if (!py::isinstance<py::str>(var_name)) {
        raise_type_error("extract() argument 'var_name' must be str, not " + type_name(var_name));
    }
    if (!py::isinstance<py::str>(expr)) {
        raise_type_error("extract() argument 'expr' must be str, not " + type_name(expr));
    }
    if (!py::isinstance<py::int_>(index) || py::isinstance<py::bool_>(index)) {
        raise_type_error("extract() argument 'index' must be int, not " + type_name(index));
    }
    py::object value;
    if (py::isinstance<py::str>(attr) && attr.cast<std::string>() == "str") {
        value = expr;
    } else {
        py::object data = response_part(resp, attr, var_name);
        const std::string pattern = expr.cast<std::string>();
        py::object matches = find_matches(data, pattern, var_name);
        if (py::bool_(matches)) {
            value = pick(matches, index, var_name, attr, pattern);
        } else {
            value = py::str(kNoMatch);
            const std::string origin = extracting(var_name) + ": " + to_repr(py::str(pattern)) +
                                       " found nothing in " + to_str(attr);
            logger().warning(origin + ", so " + to_str(var_name) + " is '" + kNoMatch + "'");
            misses()[var_name] = origin;
        }
    }
    if (logger().debug_enabled()) {
        logger().debug(to_str(var_name) + " = " + to_str(value));
    }
    if (!value.equal(py::str(kNoMatch))) {
        misses().attr("pop")(var_name, py::none());
    }

    py::dict kwargs;
    kwargs[var_name] = value;
    templates().attr("add_globals")(**kwargs);
    if (py::bool_(self.attr("_debug"))) {
        self.attr("dump")();
    }
}

void extract(py::object self, py::object resp, py::object var_name, py::object attr,
             py::object expr, py::object index) {
    py::dict params;
    if (lumox::py_helpers::steps_recorded()) {
        py::object represent = py::module_::import("allure_commons.utils").attr("represent");
        params["var_name"] = represent(var_name);
        params["attr"] = represent(attr);
        params["expr"] = represent(expr);
        params["index"] = represent(index);
    }
    lumox::py_helpers::in_step("提取变量", params,
                               [&] { extract_into(self, resp, var_name, attr, expr, index); });
}

bool is_plain_value(py::handle value) {
    // Exact types only: subclasses (enums, custom str types) stay out of the file.
    PyTypeObject *type = Py_TYPE(value.ptr());
    return type == &PyLong_Type || type == &PyFloat_Type || type == &PyUnicode_Type ||
           type == &PyBool_Type || value.is_none();
}

// The file's value of `name` is `value` already (same type too: 1, 1.0 and True differ).
bool file_holds(py::handle file, py::handle name, py::handle value) {
    if (!PyDict_Check(file.ptr())) {
        return false;
    }
    PyObject *held = PyDict_GetItemWithError(file.ptr(), name.ptr());
    if (held == nullptr) {
        if (PyErr_Occurred()) {
            throw py::error_already_set();
        }
        return false;
    }
    return Py_TYPE(held) == Py_TYPE(value.ptr()) && py::handle(held).equal(value);
}

void dump(py::object self) {
    py::object file = self.attr("file");
    // Only variables this process changed go to the file: passing on the values it loaded
    // would undo what other processes (pytest-xdist workers) saved meanwhile.
    py::dict plain;
    for (auto item : templates().attr("env_globals").attr("items")()) {
        auto pair = item.cast<py::tuple>();
        if (is_plain_value(pair[1]) && !file_holds(file, pair[0], pair[1])) {
            plain[pair[0]] = pair[1];
        }
    }
    file.attr("update")(plain);
    file.attr("save")();
}

} // namespace

PYBIND11_MODULE(exchange, m) {
    m.doc() = "The run's variable store: extraction of values from responses into the "
              "template globals, and the variables file.";
    m.attr("logger") = logger().object();
    m.attr("misses") = misses();

    py::dict ns;
    ns["__init__"] = method(&init_exchange, "init", py::arg("self"), py::arg("path") = "",
                            py::arg("data") = py::none(), py::arg("debug") = false);
    ns["extract"] =
        method(&extract, "extract", py::arg("self"), py::arg("resp"), py::arg("var_name"),
               py::arg("attr"), py::arg("expr"), py::arg("index") = 0,
               "Sets the run variable `var_name` from the response: attr 'str' takes `expr` "
               "itself; otherwise the response attribute `attr` is searched with a JSONPath "
               "(expr starting with '$') or a regular expression, and match number `index` is "
               "taken ('not data' when nothing matches; an expr starting with '/' never matches).");
    ns["dump"] = method(&dump, "dump", py::arg("self"),
                        "Writes the plain-valued run variables (int, float, str, bool, None) "
                        "to the variables file.");
    lumox::py_helpers::make_class(
        m, "Exchange", py::make_tuple(py::module_::import("builtins").attr("object")), ns,
        "Exchange(path='', data=None, debug=False): the run's variable store bound to the "
        "variables file `path` (\"FileNotFoundError.yaml\" when empty).");
}

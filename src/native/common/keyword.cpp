#include "keyword.hpp"

#include "core/ascii_text.hpp"

#include "errors.hpp"
#include "pyclass.hpp"
#include "secrets.hpp"
#include "step.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace lumox::py_helpers {

py::object KeywordArgs::operator[](const char *name) const { return values[py::str(name)]; }

namespace {

constexpr const char *kMethodType = "KeywordMethod";
constexpr const char *kLocatorDoc = "定位器字符串，具体格式请参考关键字：show";

std::string text_of(py::handle value) { return py::str(value).cast<std::string>(); }
std::string repr_of(py::handle value) { return py::repr(value).cast<std::string>(); }

std::string stripped(const std::string &text) { return std::string(core::strip_blanks(text)); }

// The argument `value` of `param` as its kind wants it.
class Conversion {
public:
    Conversion(const KeywordSpec &keyword, const KeywordParam &param, py::object value)
        : keyword_(keyword), param_(param), value_(std::move(value)) {}

    py::object run() {
        if (param_.kind == ParamKind::any || param_.kind == ParamKind::locator ||
            param_.kind == ParamKind::text) {
            return value_;
        }
        if (value_.is_none() || blank(value_)) {
            if (param_.required()) {
                if (param_.kind == ParamKind::integer) {
                    return whole_number(); // the TypeError of a missing int
                }
                fail(PyExc_ValueError, "is empty");
            }
            if (value_.is_none() && param_.kind == ParamKind::truth) {
                return py::bool_(false); // None is false, as Python has it
            }
            value_ = param_.fallback; // an empty cell: the default
            if (value_.is_none() || blank(value_)) {
                return value_;
            }
        }
        const bool is_text = py::isinstance<py::str>(value_);
        switch (param_.kind) {
        case ParamKind::seconds: {
            const double seconds = number("a number of seconds such as 5 or 0.5");
            if (seconds < 0) {
                fail(PyExc_ValueError,
                     "must be a number of seconds such as 5 or 0.5, not " + repr_of(value_));
            }
            return py::float_(seconds);
        }
        case ParamKind::number:
            return py::float_(number("a number such as 3 or 2.5"));
        case ParamKind::integer:
            return whole_number();
        case ParamKind::truth:
            return py::bool_(truth());
        case ParamKind::json_value:
            return is_text ? parsed_json() : value_;
        case ParamKind::json_object:
            return json_of<py::dict>("a JSON object such as {\"name\": \"value\"}");
        case ParamKind::json_list:
            return json_of<py::list>("a JSON list such as [1, 2]");
        case ParamKind::var_name:
            return py::str(stripped(text("a variable name")));
        case ParamKind::file_path:
            return py::module_::import("os.path").attr("expanduser")(
                py::str(stripped(text("a file path"))));
        default:
            return value_;
        }
    }

private:
    static bool blank(py::handle value) {
        return py::isinstance<py::str>(value) && stripped(text_of(value)).empty();
    }

    [[noreturn]] void fail(py::handle type, const std::string &what) const {
        raise_error(type, keyword_.name + ": " + param_.name + " " + what);
    }

    std::string text(const char *expected) const {
        if (!py::isinstance<py::str>(value_)) {
            fail(PyExc_TypeError,
                 std::string("must be ") + expected + " (text), not " + repr_of(value_));
        }
        return text_of(value_);
    }

    double number(const char *expected) const {
        if (!PyBool_Check(value_.ptr())) {
            try {
                const double result =
                    py::module_::import("builtins").attr("float")(value_).cast<double>();
                if (std::isfinite(result)) {
                    return result;
                }
            } catch (py::error_already_set &error) {
                if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) {
                    throw;
                }
            }
        }
        fail(PyExc_ValueError, std::string("must be ") + expected + ", not " + repr_of(value_));
    }

    // An int, or the text of one ("12", " -1 "); other values (2.0, True) are refused as
    // Python refuses them where an int is due.
    py::object whole_number() const {
        if (py::isinstance<py::int_>(value_) && !PyBool_Check(value_.ptr())) {
            return value_;
        }
        if (py::isinstance<py::str>(value_)) {
            const std::string text = stripped(text_of(value_));
            const std::size_t digits = text.rfind('-', 0) == 0 ? 1 : 0;
            if (text.size() > digits && text.size() < 19 + digits &&
                text.find_first_not_of("0123456789", digits) == std::string::npos) {
                return py::int_(std::stoll(text));
            }
        }
        raise_argument_type("key_" + keyword_.name + "()", param_.name.c_str(), "int", value_);
    }

    bool truth() const {
        if (PyBool_Check(value_.ptr())) {
            return value_.ptr() == Py_True;
        }
        if (py::isinstance<py::int_>(value_) || py::isinstance<py::float_>(value_)) {
            const double number = value_.cast<double>();
            if (number == 0 || number == 1) {
                return number == 1;
            }
        } else if (py::isinstance<py::str>(value_)) {
            const std::string word = core::lower_ascii(stripped(text_of(value_)));
            for (const char *yes : {"true", "yes", "on", "1", "y", "是"}) {
                if (word == yes) {
                    return true;
                }
            }
            for (const char *no : {"false", "no", "off", "0", "n", "否"}) {
                if (word == no) {
                    return false;
                }
            }
        }
        fail(PyExc_ValueError,
             "must be a truth value (true or false, yes or no, 1 or 0), not " + repr_of(value_));
    }

    // JSON text parsed; a fault is a JSONDecodeError whose message names the argument.
    py::object parsed_json() const {
        py::module_ json = py::module_::import("json");
        try {
            return json.attr("loads")(value_);
        } catch (py::error_already_set &error) {
            if (!error.matches(json.attr("JSONDecodeError"))) {
                throw;
            }
            // The value stays out: it may be a secret header or cookie (the failure report
            // shows the row's arguments, masked). Line and column still say where.
            py::object cause = error.value();
            py::object decode_error = json.attr("JSONDecodeError")(
                py::str(keyword_.name + ": " + param_.name + " is not valid JSON (" +
                        text_of(cause.attr("msg")) + ")"),
                cause.attr("doc"), cause.attr("pos"));
            decode_error.attr("doc") = py::str("");
            decode_error.attr("__suppress_context__") = true;
            PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(decode_error.ptr())),
                            decode_error.ptr());
            throw py::error_already_set();
        }
    }

    template <typename Wanted>
    py::object json_of(const char *expected) const {
        py::object value = py::isinstance<py::str>(value_) ? parsed_json() : value_;
        if (!py::isinstance<Wanted>(value)) {
            fail(PyExc_ValueError, std::string("must be ") + expected + ", not " + repr_of(value_));
        }
        return value;
    }

    const KeywordSpec &keyword_;
    const KeywordParam &param_;
    py::object value_;
};

void convert_arguments(const KeywordSpec &keyword, py::dict &values) {
    for (const KeywordParam &param : keyword.params) {
        py::str key(param.name);
        values[key] = Conversion(keyword, param, values[key]).run();
    }
}

const KeywordParam *param_named(const KeywordSpec &keyword, const std::string &name) {
    for (const KeywordParam &param : keyword.params) {
        if (param.name == name) {
            return &param;
        }
    }
    return nullptr;
}

// A declaration with an undocumented parameter, or a documentation order that does not
// name each parameter once, is a fault of the library: found when the module loads.
void check_declaration(const KeywordSpec &keyword) {
    for (const KeywordParam &param : keyword.params) {
        if (param.doc.empty() && param.kind != ParamKind::locator) {
            throw std::logic_error("keyword " + keyword.name + ": parameter " + param.name +
                                   " has no documentation");
        }
    }
    if (!keyword.doc_order.empty()) {
        bool complete = keyword.doc_order.size() == keyword.params.size();
        for (std::size_t i = 0; i < keyword.doc_order.size(); ++i) {
            const std::string &name = keyword.doc_order[i];
            complete = complete && param_named(keyword, name) != nullptr &&
                       std::find(keyword.doc_order.begin() + i + 1, keyword.doc_order.end(),
                                 name) == keyword.doc_order.end();
        }
        if (!complete) {
            throw std::logic_error("keyword " + keyword.name +
                                   ": doc_order must name each parameter once");
        }
    }
}

std::string method_name(const KeywordSpec &keyword) { return "key_" + keyword.name; }

// Binds the call's arguments to the declared parameters the way a Python `def` with
// *args and **kwargs would; anything beyond the declared parameters is dropped.
py::dict bind_arguments(const KeywordSpec &keyword, const py::args &args,
                        const py::kwargs &kwargs) {
    const std::string fname = method_name(keyword) + "()";
    py::dict values;
    std::string missing;
    for (size_t i = 0; i < keyword.params.size(); ++i) {
        const KeywordParam &param = keyword.params[i];
        py::str key(param.name);
        const size_t position = i + 1; // args[0] is the keyword object
        if (position < args.size()) {
            if (kwargs.contains(key)) {
                throw py::type_error(fname + " got multiple values for argument '" + param.name +
                                     "'");
            }
            values[key] = args[position];
        } else if (kwargs.contains(key)) {
            values[key] = kwargs[key];
        } else if (!param.required()) {
            values[key] = param.fallback;
        } else {
            missing += (missing.empty() ? "'" : ", '") + param.name + "'";
        }
    }
    if (!missing.empty()) {
        throw py::type_error(fname + " missing required argument: " + missing);
    }
    return values;
}

py::object call_keyword(const KeywordSpec &keyword, py::args args, py::kwargs kwargs) {
    if (args.empty()) {
        throw py::type_error(method_name(keyword) +
                             "() needs the keyword object as first argument");
    }
    KeywordArgs call{args[0], bind_arguments(keyword, args, kwargs)};
    py::dict step_params;
    if (steps_recorded()) {
        for (auto [name, value] : masked_keyword_params(py::str(keyword.name), call.values)) {
            step_params[name] = step_param(value);
        }
    }
    // Converted inside the step: the report shows the argument as written and the row's
    // failure says which one did not fit.
    return in_step(keyword.title, step_params, [&] {
        convert_arguments(keyword, call.values);
        return keyword.body(call);
    });
}

// (self, <declared>, *args, **kwargs) as an inspect.Signature.
py::object make_signature(const KeywordSpec &keyword) {
    py::module_ inspect = py::module_::import("inspect");
    py::object parameter = inspect.attr("Parameter");
    py::list params;
    params.append(parameter("self", parameter.attr("POSITIONAL_OR_KEYWORD")));
    std::string var_args = "args";
    std::string var_kwargs = "kwargs";
    for (const KeywordParam &param : keyword.params) {
        if (param.name == var_args) {
            var_args = "_" + var_args;
        }
        if (param.name == var_kwargs) {
            var_kwargs = "_" + var_kwargs;
        }
        if (param.required()) {
            params.append(parameter(param.name, parameter.attr("POSITIONAL_OR_KEYWORD")));
        } else {
            params.append(parameter(param.name, parameter.attr("POSITIONAL_OR_KEYWORD"),
                                    py::arg("default") = param.fallback));
        }
    }
    params.append(parameter(var_args, parameter.attr("VAR_POSITIONAL")));
    params.append(parameter(var_kwargs, parameter.attr("VAR_KEYWORD")));
    return inspect.attr("Signature")(params);
}

py::object keyword_call(py::object self, py::args args, py::kwargs kwargs) {
    return self.attr("_impl")(*args, **kwargs);
}

// A descriptor like a plain function: the class gets the keyword itself, an instance a
// bound method.
py::object keyword_get(py::object self, py::object instance, py::object /*owner*/) {
    if (instance.is_none()) {
        return self;
    }
    // Every keyword call passes here: the type is looked up once.
    static PyObject *method_type = reinterpret_cast<PyObject *>(&PyMethod_Type);
    return py::reinterpret_borrow<py::object>(method_type)(self, instance);
}

std::string keyword_repr(py::object self) {
    return "<keyword method " + py::str(self.attr("__name__")).cast<std::string>() + ">";
}

py::object keyword_method_type(py::module_ &module) {
    if (py::hasattr(module, kMethodType)) {
        return module.attr(kMethodType);
    }
    py::dict ns;
    ns["__call__"] = method(&keyword_call, "call", py::arg("self"));
    ns["__get__"] = method(&keyword_get, "get", py::arg("self"), py::arg("instance"),
                           py::arg("owner") = py::none());
    ns["__repr__"] = method(&keyword_repr, "repr", py::arg("self"));
    return make_class(module, kMethodType, py::tuple(), ns,
                      "A keyword method key_<name>: binds its declared parameters, ignores "
                      "further arguments and runs as one report step.");
}

} // namespace

const char *kind_name(ParamKind kind) {
    switch (kind) {
    case ParamKind::locator:
        return "locator";
    case ParamKind::text:
        return "text";
    case ParamKind::seconds:
        return "seconds";
    case ParamKind::integer:
        return "whole number";
    case ParamKind::number:
        return "number";
    case ParamKind::truth:
        return "truth value";
    case ParamKind::json_value:
        return "JSON";
    case ParamKind::json_object:
        return "JSON object";
    case ParamKind::json_list:
        return "JSON list";
    case ParamKind::var_name:
        return "variable name";
    case ParamKind::file_path:
        return "file path";
    default:
        return "any";
    }
}

py::dict declared_param(const std::string &name, const std::string &kind, const std::string &doc,
                        py::object fallback) {
    py::dict entry(py::arg("name") = name, py::arg("kind") = kind, py::arg("doc") = doc,
                   py::arg("required") = !fallback);
    if (fallback) {
        entry["default"] = fallback;
    }
    return entry;
}

namespace {

// The declaration as data, for the reference and the keyword drop-down: what is documented
// is read from here, not parsed back out of __doc__.
py::dict declaration_of(const KeywordSpec &keyword) {
    py::list params;
    for (const KeywordParam &param : keyword.params) {
        params.append(declared_param(param.name, kind_name(param.kind),
                                     param.doc.empty() ? kLocatorDoc : param.doc, param.fallback));
    }
    return py::dict(py::arg("name") = keyword.name, py::arg("title") = keyword.title,
                    py::arg("summary") = keyword.summary, py::arg("params") = params);
}

} // namespace

std::string keyword_doc(const KeywordSpec &keyword) {
    std::string doc = keyword.label + keyword.name;
    if (!keyword.summary.empty()) {
        doc += "\n" + keyword.summary;
    }
    const auto line = [&](const KeywordParam &param) {
        doc += "\n:param " + param.name + ": " + (param.doc.empty() ? kLocatorDoc : param.doc);
    };
    if (keyword.doc_order.empty()) {
        std::for_each(keyword.params.begin(), keyword.params.end(), line);
    } else {
        for (const std::string &name : keyword.doc_order) {
            line(*param_named(keyword, name));
        }
    }
    return doc;
}

py::object add_keyword(py::module_ &module, py::dict ns, KeywordSpec declared) {
    check_declaration(declared);
    auto shared = std::make_shared<const KeywordSpec>(std::move(declared));
    const std::string name = method_name(*shared);

    py::object method = keyword_method_type(module)();
    method.attr("_impl") = py::cpp_function(
        [shared](py::args args, py::kwargs kwargs) {
            return call_keyword(*shared, std::move(args), std::move(kwargs));
        },
        py::name(name.c_str()));
    method.attr("__name__") = name;
    method.attr("__qualname__") = name;
    method.attr("__module__") = module.attr("__name__");
    method.attr("__doc__") = keyword_doc(*shared);
    py::dict kinds;
    for (const KeywordParam &param : shared->params) {
        kinds[py::str(param.name)] = kind_name(param.kind);
    }
    method.attr("param_kinds") = kinds;
    method.attr("declaration") = declaration_of(*shared);
    method.attr("__signature__") = make_signature(*shared);
    method.attr("keyword") = shared->name;
    method.attr("title") = shared->title;
    ns[py::str(name)] = method;
    return method;
}

} // namespace lumox::py_helpers

#include "keyword.hpp"

#include "pyclass.hpp"
#include "secrets.hpp"
#include "step.hpp"

#include <memory>

namespace lumox::py_helpers {

py::object KeywordArgs::operator[](const char *name) const { return values[py::str(name)]; }

namespace {

constexpr const char *kMethodType = "KeywordMethod";

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
    return in_step(keyword.title, step_params, [&] { return keyword.body(call); });
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

py::object add_keyword(py::module_ &module, py::dict ns, KeywordSpec declared) {
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
    method.attr("__doc__") = shared->doc;
    method.attr("__signature__") = make_signature(*shared);
    method.attr("keyword") = shared->name;
    method.attr("title") = shared->title;
    ns[py::str(name)] = method;
    return method;
}

} // namespace lumox::py_helpers

// lumox.templates: the run's variables and the rendering of YAML steps with Jinja2.
//
// Every string of a step is a Jinja2 template over `env_globals`. A string that is exactly
// one `{{ expr }}` keeps the type of the expression's value, so `{{ user_id }}` stays an
// integer and `{{ headers }}` stays a mapping; anything else renders to text. Undefined
// variables are errors (StrictUndefined): a step must never go out with a silently empty
// value.
#include <pybind11/pybind11.h>

#include "native/common/pyclass.hpp"

#include <string>

namespace py = pybind11;
using lumox::py_helpers::make_class;

namespace {

// Compiled templates are kept per source text: the same step strings come back for every
// case of a suite. The bound only keeps pathological suites from growing without end.
constexpr py::ssize_t template_cache_limit = 2048;

// Process-wide Python objects of this module. Allocated once and never freed: releasing
// them after the interpreter has shut down would crash.
struct Engine {
    py::dict globals;          // env_globals, the run's variables
    py::object environment;    // jinja2.Environment
    py::dict cache;            // source text -> (keeps_type, compiled)
    py::object template_error; // lumox.templates.TemplateError
    py::object jinja_error;    // jinja2.TemplateError, base of every Jinja failure
    py::object undefined_error;
    py::object syntax_error;
    py::object output_node;
    py::object template_data_node;
    py::object template_node;
    py::object assign_node;
    py::object name_node;
    py::object template_expression;
    py::object mapping_abc;
    py::object undefined;
    py::str open_expression{"{{"};
    py::str open_statement{"{%"};
};

Engine *engine = nullptr;

bool has_template_syntax(const py::str &text) {
    return PySequence_Contains(text.ptr(), engine->open_expression.ptr()) == 1 ||
           PySequence_Contains(text.ptr(), engine->open_statement.ptr()) == 1;
}

// The only non-blank node of `parsed` when the template is one `{{ expr }}` with nothing
// but whitespace around it; None otherwise.
py::object single_expression(const py::object &parsed) {
    py::list body = parsed.attr("body");
    if (body.size() != 1 || !py::isinstance(body[0], engine->output_node)) {
        return py::none();
    }
    py::object expression = py::none();
    for (py::handle node : py::list(body[0].attr("nodes"))) {
        if (py::isinstance(node, engine->template_data_node)) {
            if (!py::str(node.attr("data")).attr("strip")().cast<std::string>().empty()) {
                return py::none();
            }
            continue;
        }
        if (!expression.is_none()) {
            return py::none();
        }
        expression = py::reinterpret_borrow<py::object>(node);
    }
    return expression;
}

// Compiles `source` into (keeps_type, compiled): an expression evaluator when the source is
// a single expression, a text template otherwise.
py::tuple compile(const py::str &source) {
    py::object parsed = engine->environment.attr("parse")(source);
    py::object expression = single_expression(parsed);
    if (expression.is_none()) {
        return py::make_tuple(false, engine->environment.attr("from_string")(parsed));
    }
    // The same tree Jinja's compile_expression builds: `result = <expr>` at top level.
    py::object target = engine->name_node("result", "store", py::arg("lineno") = 1);
    py::object assign = engine->assign_node(target, expression, py::arg("lineno") = 1);
    py::list tree_body;
    tree_body.append(assign);
    py::object tree = engine->template_node(tree_body, py::arg("lineno") = 1);
    py::object compiled = engine->environment.attr("from_string")(tree);
    return py::make_tuple(true, engine->template_expression(compiled, false));
}

py::tuple compiled_for(const py::str &source) {
    if (PyObject *hit = PyDict_GetItemWithError(engine->cache.ptr(), source.ptr())) {
        return py::reinterpret_borrow<py::tuple>(hit);
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }
    py::tuple entry = compile(source);
    if (py::len(engine->cache) >= template_cache_limit) {
        engine->cache.clear();
    }
    engine->cache[source] = entry;
    return entry;
}

// Jinja says "'token' is undefined"; testers read "undefined variable 'token'".
std::string describe_jinja_error(py::error_already_set &error) {
    std::string message = py::str(error.value()).cast<std::string>();
    const std::string undefined_suffix = " is undefined";
    if (error.matches(engine->undefined_error.ptr()) && message.size() > undefined_suffix.size() &&
        message.compare(message.size() - undefined_suffix.size(), undefined_suffix.size(),
                        undefined_suffix) == 0) {
        return "undefined variable " + message.substr(0, message.size() - undefined_suffix.size());
    }
    if (error.matches(engine->syntax_error.ptr())) {
        return "template syntax error: " + message;
    }
    return message;
}

[[noreturn]] void raise_template_error(py::error_already_set &error, const py::str &source) {
    std::string message =
        describe_jinja_error(error) + " in template " + py::repr(source).cast<std::string>();
    py::raise_from(error, engine->template_error.ptr(), message.c_str());
    throw py::error_already_set();
}

// Containers coming out of an expression are copied, so a step hook that edits its step
// (opening upload files, say) never changes the run's variables.
py::object copy_containers(const py::handle &value) {
    if (PyDict_Check(value.ptr())) {
        py::dict copy;
        for (auto item : py::reinterpret_borrow<py::dict>(value)) {
            copy[item.first] = copy_containers(item.second);
        }
        return copy;
    }
    if (PyList_Check(value.ptr())) {
        py::list copy;
        for (py::handle element : py::reinterpret_borrow<py::list>(value)) {
            copy.append(copy_containers(element));
        }
        return copy;
    }
    return py::reinterpret_borrow<py::object>(value);
}

py::object render_string(const py::str &source, bool keep_type) {
    if (!has_template_syntax(source)) {
        return source;
    }
    try {
        py::tuple entry = compiled_for(source);
        if (entry[0].cast<bool>() && keep_type) {
            py::object value = entry[1](engine->globals);
            // An undefined name evaluates to a StrictUndefined object; turning it into
            // text raises the UndefinedError that names it.
            if (py::isinstance(value, engine->undefined)) {
                static_cast<void>(py::str(value));
            }
            return copy_containers(value);
        }
        if (entry[0].cast<bool>()) {
            return py::str(entry[1](engine->globals));
        }
        return entry[1].attr("render")(engine->globals);
    } catch (py::error_already_set &error) {
        if (error.matches(engine->jinja_error.ptr())) {
            raise_template_error(error, source);
        }
        throw;
    }
}

py::object render(const py::handle &value) {
    if (PyUnicode_Check(value.ptr())) {
        return render_string(py::reinterpret_borrow<py::str>(value), true);
    }
    if (PyDict_Check(value.ptr()) || py::isinstance(value, engine->mapping_abc)) {
        py::dict rendered;
        for (py::handle key : py::iter(value)) {
            // Keys are names, not values: rendered to text, and only when they hold `{{`.
            bool templated_key = PyUnicode_Check(key.ptr()) &&
                                 PySequence_Contains(key.ptr(), engine->open_expression.ptr()) == 1;
            py::object new_key = templated_key
                                     ? render_string(py::reinterpret_borrow<py::str>(key), false)
                                     : py::reinterpret_borrow<py::object>(key);
            rendered[new_key] = render(value[key]);
        }
        return rendered;
    }
    if (PyList_Check(value.ptr())) {
        py::list rendered;
        for (py::handle element : py::reinterpret_borrow<py::list>(value)) {
            rendered.append(render(element));
        }
        return rendered;
    }
    if (PyTuple_Check(value.ptr())) {
        py::list rendered;
        for (py::handle element : py::reinterpret_borrow<py::tuple>(value)) {
            rendered.append(render(element));
        }
        return py::tuple(rendered);
    }
    return py::reinterpret_borrow<py::object>(value);
}

void add_globals(const py::kwargs &variables) {
    for (auto item : variables) {
        engine->globals[item.first] = item.second;
    }
}

} // namespace

PYBIND11_MODULE(templates, m) {
    m.doc() = "The run's variables (env_globals) and Jinja2 rendering of YAML steps.";

    py::module_ jinja2 = py::module_::import("jinja2");
    py::module_ nodes = py::module_::import("jinja2.nodes");

    engine = new Engine();
    engine->environment = jinja2.attr("Environment")(
        py::arg("undefined") = jinja2.attr("StrictUndefined"), py::arg("autoescape") = false,
        // Block scalars end with a newline that is part of the text.
        py::arg("keep_trailing_newline") = true);
    engine->jinja_error = jinja2.attr("TemplateError");
    engine->undefined_error = jinja2.attr("UndefinedError");
    engine->syntax_error = jinja2.attr("TemplateSyntaxError");
    engine->output_node = nodes.attr("Output");
    engine->template_data_node = nodes.attr("TemplateData");
    engine->template_node = nodes.attr("Template");
    engine->assign_node = nodes.attr("Assign");
    engine->name_node = nodes.attr("Name");
    engine->template_expression =
        py::module_::import("jinja2.environment").attr("TemplateExpression");
    engine->mapping_abc = py::module_::import("collections.abc").attr("Mapping");
    engine->undefined = jinja2.attr("Undefined");

    py::tuple bases = py::make_tuple(py::module_::import("builtins").attr("Exception"));
    engine->template_error =
        make_class(m, "TemplateError", bases, py::dict(),
                   "A step value could not be rendered: undefined variable or bad template.");

    m.attr("env_globals") = engine->globals;
    m.attr("environment") = engine->environment;

    m.def("add_globals", &add_globals,
          "Adds or replaces run variables: add_globals(token='abc', user_id=7).");
    m.def("render", &render, py::arg("value"),
          "Returns a copy of a step value with every string rendered over env_globals.\n\n"
          "A string that is exactly one '{{ expr }}' keeps the type of the value; other\n"
          "strings render to text. Mapping keys are rendered as text. Undefined variables\n"
          "raise TemplateError naming the variable.");
}

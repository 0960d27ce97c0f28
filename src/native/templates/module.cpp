// lumox.templates: the run's variables and the rendering of YAML steps with Jinja2.
//
// Every string of a step is a Jinja2 template over `env_globals`. A string that is exactly
// one `{{ expr }}` keeps the type of the expression's value, so `{{ user_id }}` stays an
// integer and `{{ headers }}` stays a mapping; anything else renders to text. Undefined
// variables are errors (StrictUndefined): a step must never go out with a silently empty
// value.
#include <pybind11/pybind11.h>

#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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
    py::dict cache;            // source text -> (keeps_type, compiled)
    py::object template_error; // lumox.templates.TemplateError
    py::object mapping_abc;
    py::str open_expression{"{{"};
    py::str open_statement{"{%"};
};

Engine *engine = nullptr;

// Jinja2 and its sandbox, set up when the first template is compiled: a run without
// templates (or `pytest --co` of an empty folder) never imports it.
struct Jinja {
    py::object environment; // jinja2.sandbox.SandboxedEnvironment
    py::object jinja_error; // jinja2.TemplateError, base of every Jinja failure
    py::object undefined_error;
    py::object syntax_error;
    py::object security_error;
    py::object output_node;
    py::object template_data_node;
    py::object template_node;
    py::object assign_node;
    py::object name_node;
    py::object template_expression;
    py::object undefined;
};

Jinja *loaded_jinja = nullptr;

Jinja &jinja() {
    if (loaded_jinja != nullptr) {
        return *loaded_jinja;
    }
    py::module_ jinja2 = py::module_::import("jinja2");
    py::module_ nodes = py::module_::import("jinja2.nodes");
    auto *j = new Jinja();
    // Sandboxed: a template reads the run's variables and calls their ordinary methods,
    // but cannot reach Python's internals (__globals__, __subclasses__, ...).
    j->environment = py::module_::import("jinja2.sandbox")
                         .attr("SandboxedEnvironment")(
                             py::arg("undefined") = jinja2.attr("StrictUndefined"),
                             py::arg("autoescape") = false,
                             // Block scalars end with a newline that is part of the text.
                             py::arg("keep_trailing_newline") = true);
    j->jinja_error = jinja2.attr("TemplateError");
    j->undefined_error = jinja2.attr("UndefinedError");
    j->syntax_error = jinja2.attr("TemplateSyntaxError");
    j->security_error = py::module_::import("jinja2.exceptions").attr("SecurityError");
    j->output_node = nodes.attr("Output");
    j->template_data_node = nodes.attr("TemplateData");
    j->template_node = nodes.attr("Template");
    j->assign_node = nodes.attr("Assign");
    j->name_node = nodes.attr("Name");
    j->template_expression = py::module_::import("jinja2.environment").attr("TemplateExpression");
    j->undefined = jinja2.attr("Undefined");
    loaded_jinja = j;
    py::module_::import("lumox.templates").attr("environment") = j->environment;
    return *j;
}

bool has_template_syntax(const py::str &text) {
    return PySequence_Contains(text.ptr(), engine->open_expression.ptr()) == 1 ||
           PySequence_Contains(text.ptr(), engine->open_statement.ptr()) == 1;
}

// The only non-blank node of `parsed` when the template is one `{{ expr }}` with nothing
// but whitespace around it; None otherwise.
py::object single_expression(const py::object &parsed) {
    py::list body = parsed.attr("body");
    if (body.size() != 1 || !py::isinstance(body[0], jinja().output_node)) {
        return py::none();
    }
    py::object expression = py::none();
    for (py::handle node : py::list(body[0].attr("nodes"))) {
        if (py::isinstance(node, jinja().template_data_node)) {
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
    py::object parsed = jinja().environment.attr("parse")(source);
    py::object expression = single_expression(parsed);
    if (expression.is_none()) {
        return py::make_tuple(false, jinja().environment.attr("from_string")(parsed));
    }
    // The same tree Jinja's compile_expression builds: `result = <expr>` at top level.
    py::object target = jinja().name_node("result", "store", py::arg("lineno") = 1);
    py::object assign = jinja().assign_node(target, expression, py::arg("lineno") = 1);
    py::list tree_body;
    tree_body.append(assign);
    py::object tree = jinja().template_node(tree_body, py::arg("lineno") = 1);
    py::object compiled = jinja().environment.attr("from_string")(tree);
    return py::make_tuple(true, jinja().template_expression(compiled, false));
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
    if (error.matches(jinja().undefined_error.ptr()) && message.size() > undefined_suffix.size() &&
        message.compare(message.size() - undefined_suffix.size(), undefined_suffix.size(),
                        undefined_suffix) == 0) {
        return "undefined variable " + message.substr(0, message.size() - undefined_suffix.size());
    }
    if (error.matches(jinja().syntax_error.ptr())) {
        return "template syntax error: " + message;
    }
    if (error.matches(jinja().security_error.ptr())) {
        return "unsafe template (jinja2.exceptions.SecurityError): " + message;
    }
    return message;
}

[[noreturn]] void raise_template_error(py::error_already_set &error, const py::str &source) {
    std::string message =
        describe_jinja_error(error) + " in template " + py::repr(source).cast<std::string>();
    py::raise_from(error, engine->template_error.ptr(), message.c_str());
    throw py::error_already_set();
}

// `variables` are the run's variables, or a copy of them with a case's own on top.
py::object render_string(const py::str &source, bool keep_type, const py::dict &variables) {
    if (!has_template_syntax(source)) {
        return source;
    }
    try {
        py::tuple entry = compiled_for(source);
        if (entry[0].cast<bool>() && keep_type) {
            py::object value = entry[1](variables);
            // An undefined name evaluates to a StrictUndefined object; turning it into
            // text raises the UndefinedError that names it.
            if (py::isinstance(value, jinja().undefined)) {
                static_cast<void>(py::str(value));
            }
            return value;
        }
        if (entry[0].cast<bool>()) {
            return py::str(entry[1](variables));
        }
        return entry[1].attr("render")(variables);
    } catch (py::error_already_set &error) {
        if (error.matches(jinja().jinja_error.ptr())) {
            raise_template_error(error, source);
        }
        throw;
    }
}

// One rendering of a step value. Values are walked with a depth bound and cycle detection,
// each container reached through several aliases is rendered once (so a "billion laughs"
// document costs its size, not its expansion), and the expanded size of the result is
// bounded: a step that could never be sent is an error naming where it went wrong.
class Rendering {
public:
    explicit Rendering(py::dict variables) : variables_(std::move(variables)) {}

    py::object value(const py::handle &node, bool from_expression) {
        if (PyUnicode_Check(node.ptr())) {
            py::str text = py::reinterpret_borrow<py::str>(node);
            if (!lumox::py_helpers::is_utf8_encodable(text)) {
                fail(path() + " holds a lone surrogate (an escape like \\ud800 that stands for "
                              "no character), which cannot be sent");
            }
            if (from_expression) {
                count(static_cast<double>(py::len(text)));
                return py::reinterpret_borrow<py::object>(node);
            }
            py::object rendered = render_string(text, true, variables_);
            if (PyUnicode_Check(rendered.ptr())) {
                count(static_cast<double>(py::len(rendered)));
                return rendered;
            }
            // An expression's value: its containers are copied and walked the same way.
            return value(rendered, true);
        }
        const bool mapping = PyDict_Check(node.ptr()) ||
                             (!from_expression && py::isinstance(node, engine->mapping_abc));
        if (!mapping && !PyList_Check(node.ptr()) && !PyTuple_Check(node.ptr())) {
            count(8);
            return py::reinterpret_borrow<py::object>(node);
        }
        py::int_ id(reinterpret_cast<std::uintptr_t>(node.ptr()));
        if (PyObject *seen = PyDict_GetItemWithError(done_.ptr(), id.ptr())) {
            // Another alias of a container already rendered: the same result again.
            py::tuple entry = py::reinterpret_borrow<py::tuple>(seen);
            count(entry[1].cast<double>());
            return entry[0];
        }
        if (active_.contains(id)) {
            fail(path() + " refers to itself: a value that contains itself cannot be sent");
        }
        if (static_cast<int>(path_.size()) >= kMaxDepth) {
            fail(path() + " is nested more than " + std::to_string(kMaxDepth) + " levels deep");
        }
        active_.add(id);
        const double size_before = size_;
        py::object rendered = mapping ? render_mapping(node, from_expression)
                                      : render_sequence(node, from_expression);
        active_.attr("discard")(id);
        done_[id] = py::make_tuple(rendered, size_ - size_before);
        // The source keeps the id valid while this rendering lives.
        keep_.append(node);
        return rendered;
    }

private:
    static constexpr int kMaxDepth = 200;
    static constexpr double kMaxSize = 50.0 * 1024 * 1024;

    py::object render_mapping(const py::handle &node, bool from_expression) {
        py::dict rendered;
        for (py::handle key : py::iter(node)) {
            // Keys are names, not values: rendered to text, and only when they hold `{{`.
            const bool templated_key =
                !from_expression && PyUnicode_Check(key.ptr()) &&
                PySequence_Contains(key.ptr(), engine->open_expression.ptr()) == 1;
            py::object new_key = templated_key ? render_string(py::reinterpret_borrow<py::str>(key),
                                                               false, variables_)
                                               : py::reinterpret_borrow<py::object>(key);
            path_.push_back("." + py::str(key)
                                      .attr("encode")("utf-8", "backslashreplace")
                                      .attr("decode")("utf-8")
                                      .cast<std::string>());
            rendered[new_key] = value(node[key], from_expression);
            path_.pop_back();
        }
        return rendered;
    }

    py::object render_sequence(const py::handle &node, bool from_expression) {
        py::list rendered;
        py::ssize_t index = 0;
        for (py::handle element : py::iter(node)) {
            path_.push_back("[" + std::to_string(index++) + "]");
            rendered.append(value(element, from_expression));
            path_.pop_back();
        }
        if (PyTuple_Check(node.ptr())) {
            return py::tuple(rendered);
        }
        return rendered;
    }

    void count(double size) {
        size_ += size;
        if (size_ > kMaxSize) {
            fail(path() + " makes the step larger than 50 MB when written out");
        }
    }

    // Where in the step: "request.json[1]".
    std::string path() const {
        if (path_.empty()) {
            return "the step";
        }
        std::string text;
        for (const std::string &part : path_) {
            text += part;
        }
        return text[0] == '.' ? text.substr(1) : text;
    }

    [[noreturn]] void fail(const std::string &message) {
        PyErr_SetString(engine->template_error.ptr(), message.c_str());
        throw py::error_already_set();
    }

    py::dict variables_;
    py::dict done_;  // id -> (rendered, expanded size)
    py::set active_; // ids of the containers being rendered (the current path)
    py::list keep_;  // the containers whose ids are in done_
    std::vector<std::string> path_;
    double size_ = 0;
};

// A case's own variables (a data row's values, a flow's parameters) stand over the run's.
py::object render(const py::handle &value, const py::object &variables) {
    if (variables.is_none()) {
        return Rendering(engine->globals).value(value, false);
    }
    if (!PyDict_Check(variables.ptr())) {
        throw py::type_error("render: variables must be a dict, not " +
                             py::str(py::type::of(variables).attr("__name__")).cast<std::string>());
    }
    if (py::len(variables) == 0) {
        return Rendering(engine->globals).value(value, false);
    }
    // A copy: the case's own variables must never become run variables.
    py::dict merged = py::reinterpret_steal<py::dict>(PyDict_Copy(engine->globals.ptr()));
    if (!merged || PyDict_Update(merged.ptr(), variables.ptr()) != 0) {
        throw py::error_already_set();
    }
    return Rendering(merged).value(value, false);
}

py::object checked_value(const py::handle &value) {
    return Rendering(engine->globals).value(value, true);
}

void add_globals(const py::kwargs &variables) {
    for (auto item : variables) {
        engine->globals[item.first] = item.second;
    }
}

} // namespace

PYBIND11_MODULE(templates, m) {
    m.doc() = "The run's variables (env_globals) and Jinja2 rendering of YAML steps.";

    engine = new Engine();
    engine->mapping_abc = py::module_::import("collections.abc").attr("Mapping");

    py::tuple bases = py::make_tuple(py::module_::import("builtins").attr("Exception"));
    engine->template_error = make_class(
        m, "TemplateError", bases, py::dict(),
        "A step value could not be rendered: undefined variable, bad or unsafe template, "
        "or a value that contains itself or is too large to send.");

    m.attr("env_globals") = engine->globals;
    // `environment` (the Jinja2 environment) appears on first use.
    m.attr("__getattr__") = py::cpp_function(
        [](const std::string &name) -> py::object {
            if (name == "environment") {
                return jinja().environment;
            }
            throw py::attribute_error("module 'lumox.templates' has no attribute '" + name + "'");
        },
        py::arg("name"));

    m.def("add_globals", &add_globals,
          "Adds or replaces run variables: add_globals(token='abc', user_id=7).");
    m.def("checked_value", &checked_value, py::arg("value"),
          "A copy of a variable's value for use in a request, its texts left as they are; "
          "TemplateError when it contains itself, nests too deep, holds a lone surrogate or "
          "grows beyond 50 MB written out.");
    m.def("render", &render, py::arg("value"), py::arg("variables") = py::none(),
          "Returns a copy of a step value with every string rendered over env_globals.\n\n"
          "A string that is exactly one '{{ expr }}' keeps the type of the value; other\n"
          "strings render to text. Mapping keys are rendered as text. Undefined variables\n"
          "raise TemplateError naming the variable. `variables` (a dict) stand over\n"
          "env_globals for this rendering only.");
}

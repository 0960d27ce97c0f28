// Keywords declared once: name, report-step title, summary, parameters with their kind and
// documentation, body.
//
// Usage (in a module's init, while building the namespace of a keyword class):
//
//     py::dict ns;
//     add_keyword(m, ns, {
//         .name = "goto",                       // keyword `goto`, method `key_goto`
//         .title = "跳转到指定页面",             // report step around every call
//         .summary = "跳转到指定页面",
//         .params = {{"url", Kind::text, "指定页面的url"},           // required
//                    {"timeout", Kind::seconds, "最长等待的秒数", 5.0}}, // with a default
//         .body = [](const KeywordArgs &call) { // may return void or a Python value
//             call.self.attr("driver").attr("get")(call["url"]);
//         },
//     });
//     make_class(m, "WebKeyWord", bases, ns);
//
// The method stored as `key_<name>` binds the declared parameters from positional and
// named arguments (defaults fill the rest), accepts and ignores any further arguments, and
// runs the body inside the report step `title`. Inside the step each argument is converted
// to its parameter's kind (text from a cell becomes seconds, a whole number, a truth value,
// parsed JSON, ...); an argument that does not fit is an error naming the keyword, the
// parameter and the value. Its __doc__ is "关键字：<name>", the summary and one ":param"
// line per parameter, and its __signature__ is (self, <declared parameters>, *args,
// **kwargs), so help() and inspect show the keyword as written; `param_kinds` maps each
// parameter to its kind's name. It works on the class (Cls.key_goto(obj, url)) and on
// instances, and Python subclasses may override it with a plain `def key_goto(self, ...)`.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace lumox::py_helpers {

namespace py = pybind11;

// What a parameter takes, and so how a cell's text is converted before the body runs.
// For the converted kinds (seconds to file path) an empty cell -- empty text, or None as
// the workbook passes a skipped cell -- gives the parameter's default (a truth value's None
// is false, as in Python), and is refused for a required one; locators, texts and `any`
// are passed as given, None included.
enum class ParamKind {
    any,         // passed as given
    locator,     // a locator string ("value ;; by ;; index"), passed as given
    text,        // text, passed as given (bodies type numbers as written)
    seconds,     // a duration: a number or numeric text, not negative -> float
    integer,     // an int or the text of one ("3", "-1") -> int; 3.0 and True are refused
    number,      // a number or numeric text -> float
    truth,       // true/false, yes/no, on/off, 1/0, 是/否 (any case) or a bool -> bool
    json_value,  // JSON text -> the parsed value; values that are not text pass as given
    json_object, // JSON text of an object -> dict
    json_list,   // JSON text of a list -> list
    var_name,    // the name of a run variable: non-empty text, surrounding blanks dropped
    file_path,   // a path: non-empty text, "~" expanded
};

// The kind's name as the keyword reference shows it ("seconds", "JSON object", ...).
const char *kind_name(ParamKind kind);

// One declared parameter: a name, its kind, its documentation line, and a default value
// unless the parameter is required. A locator without documentation gets the usual
// locator line.
struct KeywordParam {
    KeywordParam(const char *param_name, ParamKind param_kind, std::string param_doc = {})
        : name(param_name), kind(param_kind), doc(std::move(param_doc)) {}
    template <typename T>
    KeywordParam(const char *param_name, ParamKind param_kind, std::string param_doc,
                 T &&default_value)
        : KeywordParam(param_name, param_kind, std::move(param_doc)) {
        if constexpr (std::is_base_of_v<py::handle, std::remove_cvref_t<T>>) {
            fallback = py::reinterpret_borrow<py::object>(default_value); // None too
        } else {
            fallback = py::cast(std::forward<T>(default_value));
        }
    }

    bool required() const { return !fallback; }

    std::string name;
    ParamKind kind;
    std::string doc;
    py::object fallback; // null handle: required
};

// What a keyword body receives: the keyword object and the bound declared parameters.
struct KeywordArgs {
    py::object self;
    py::dict values; // declared parameter name -> value, in declaration order

    // The value of the declared parameter `name` (a KeyError for an undeclared name).
    py::object operator[](const char *name) const;
};

// The body of a keyword; a callable returning void stands for one returning None.
class KeywordBody {
public:
    template <typename F>
    KeywordBody(F body) {
        if constexpr (std::is_void_v<std::invoke_result_t<F &, const KeywordArgs &>>) {
            fn_ = [body = std::move(body)](const KeywordArgs &call) mutable -> py::object {
                body(call);
                return py::none();
            };
        } else {
            fn_ = [body = std::move(body)](const KeywordArgs &call) mutable -> py::object {
                return py::object(body(call));
            };
        }
    }
    py::object operator()(const KeywordArgs &call) const { return fn_(call); }

private:
    std::function<py::object(const KeywordArgs &)> fn_;
};

struct KeywordSpec {
    std::string name;    // keyword name; the method is "key_" + name
    std::string title;   // report step title
    std::string summary; // what the keyword does (one or more lines)
    std::vector<KeywordParam> params;
    KeywordBody body;
    // Order of the ":param" lines when it is not the order of the parameters.
    std::vector<std::string> doc_order = {};
    std::string label = "关键字："; // the documentation's first line is label + name
};

// The documentation text of a declared keyword (its __doc__).
std::string keyword_doc(const KeywordSpec &keyword);

// One parameter as a declaration shows it to Python (the reference, the keyword drop-down):
// name, kind, doc, required, and its default unless `fallback` is a null handle.
py::dict declared_param(const std::string &name, const std::string &kind, const std::string &doc,
                        py::object fallback);

// Stores the keyword method "key_" + name in the class namespace `ns` and returns it.
// The method is an instance of `module.KeywordMethod`, defined on first use.
py::object add_keyword(py::module_ &module, py::dict ns, KeywordSpec keyword);

} // namespace lumox::py_helpers

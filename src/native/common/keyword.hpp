// Keywords declared once: name, report-step title, documentation, parameters, body.
//
// Usage (in a module's init, while building the namespace of a keyword class):
//
//     py::dict ns;
//     add_keyword(m, ns, {
//         .name = "goto",                       // keyword `goto`, method `key_goto`
//         .title = "跳转到指定页面",             // report step around every call
//         .doc = "关键字：goto\n跳转到指定页面\n:param url: 指定页面的url",
//         .params = {"url", {"timeout", 5.0}},  // "url" is required, timeout defaults to 5.0
//         .body = [](const KeywordArgs &call) { // may return void or a Python value
//             call.self.attr("driver").attr("get")(call["url"]);
//         },
//     });
//     make_class(m, "WebKeyWord", bases, ns);
//
// The method stored as `key_<name>` binds the declared parameters from positional and
// named arguments (defaults fill the rest), accepts and ignores any further arguments, and
// runs the body inside the report step `title`. Its __doc__ is `doc` exactly and its
// __signature__ is (self, <declared parameters>, *args, **kwargs), so help() and inspect
// show the keyword as written. It works on the class (Cls.key_goto(obj, url)) and on
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

// One declared parameter: a name, and a default value unless the parameter is required.
struct KeywordParam {
    KeywordParam(const char *param_name) : name(param_name) {}
    template <typename T>
    KeywordParam(const char *param_name, T &&default_value) : name(param_name) {
        if constexpr (std::is_base_of_v<py::handle, std::remove_cvref_t<T>>) {
            fallback = py::reinterpret_borrow<py::object>(default_value); // None too
        } else {
            fallback = py::cast(std::forward<T>(default_value));
        }
    }

    bool required() const { return !fallback; }

    std::string name;
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
    template <typename F> KeywordBody(F body) {
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
    std::string name;  // keyword name; the method is "key_" + name
    std::string title; // report step title
    std::string doc;   // full documentation text ("关键字：<name>", summary, ":param" lines)
    std::vector<KeywordParam> params;
    KeywordBody body;
};

// Stores the keyword method "key_" + name in the class namespace `ns` and returns it.
// The method is an instance of `module.KeywordMethod`, defined on first use.
py::object add_keyword(py::module_ &module, py::dict ns, KeywordSpec keyword);

} // namespace lumox::py_helpers

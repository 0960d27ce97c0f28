// LumoxLocator: a parsed locator expression "value ;; by ;; index" (grammar in
// core/locator.hpp); the parts are checked by the property setters.
#include "actlib_utils.hpp"

#include "core/locator.hpp"
#include "native/common/pyclass.hpp"

#include <string>

namespace lumox::actlib_utils {

namespace {

using py_helpers::method;
using py_helpers::to_repr;
using py_helpers::to_str;

std::string text_argument(py::handle value, const char *name) {
    if (!py::isinstance<py::str>(value)) {
        raise_argument_type("LumoxLocator", name, "str", value);
    }
    return value.cast<std::string>();
}

[[noreturn]] void reject(const std::string &message) {
    logger().error(message);
    throw py::value_error(message);
}

void init_locator(py::object self, py::object locator_str) {
    const std::string text = text_argument(locator_str, "locator_str");
    const std::string split = to_str(self.attr("_split_char"));
    const std::string escape_target(core::kLocatorEscapeTarget);
    self.attr("_escape_source") = to_str(self.attr("_escape_char")) + split;
    self.attr("_escape_target") = escape_target;

    std::string ignored;
    const auto pieces = core::split_locator(text, split, to_str(self.attr("_escape_char")),
                                            escape_target, &ignored);
    if (!ignored.empty()) {
        // Kept as it always was, but a fourth part is most often a typo or an unescaped ;;.
        logger().warning("locator " + to_repr(py::str(text)) + ": " + to_repr(py::str(ignored)) +
                         " after the index is ignored (a locator is value ;; by ;; index; "
                         "write a ;; of the value as \\;;)");
    }
    // Through the setters, value first, so each part is checked as if assigned.
    const char *const names[] = {"value", "by", "index"};
    for (size_t i = 0; i < pieces.size(); ++i) {
        py::setattr(self, names[i], py::str(pieces[i]));
    }
}

void set_value(py::object self, py::object text) {
    self.attr("_value") =
        core::unescape_locator_value(text_argument(text, "value"), to_str(self.attr("_split_char")),
                                     to_str(self.attr("_escape_target")));
}

void set_by(py::object self, py::object text) {
    const auto strategy = core::strategy_for(text_argument(text, "by"));
    if (!strategy) {
        reject("定位器解析失败: 未知的维度策略 value=" + to_repr(text));
    }
    self.attr("_by") = std::string(*strategy);
}

void set_index(py::object self, py::object text) {
    const auto index = core::parse_locator_index(text_argument(text, "index"));
    if (!index) {
        reject("定位器解析失败: 位置索引不正确 index=" + to_repr(text));
    }
    self.attr("_index") = *index;
}

std::string locator_text(py::object self) {
    return "Locator(value='" + to_str(self.attr("_value")) + "', by='" + to_str(self.attr("_by")) +
           "', index=" + to_str(self.attr("_index")) + ")";
}

py::object property(const char *field, void (*setter)(py::object, py::object), const char *doc) {
    std::string name(field);
    py::cpp_function getter([name](py::object self) { return self.attr(name.c_str()); });
    return py::module_::import("builtins")
        .attr("property")(getter, py::cpp_function(setter), py::none(), doc);
}

} // namespace

py::object define_locator(py::module_ &module) {
    py::dict ns;
    ns["_by"] = std::string(core::kDefaultStrategy);
    ns["_index"] = 0;
    ns["_split_char"] = std::string(core::kLocatorSplit);
    ns["_escape_char"] = std::string(core::kLocatorEscape);
    ns["__init__"] = method(&init_locator, "init", py::arg("self"), py::arg("locator_str"));
    ns["value"] = property("_value", &set_value,
                           "The locating expression; an escaped separator is a literal ';;'.");
    ns["by"] =
        property("_by", &set_by, "The strategy string; set it by member name (ID, XPATH, ...).");
    ns["index"] = property("_index", &set_index,
                           "Position among the matches, 0 = first; set it as decimal digits.");
    ns["__str__"] = method(&locator_text, "str", py::arg("self"));
    ns["__repr__"] = method(&locator_text, "repr", py::arg("self"));
    return py_helpers::make_class(module, "LumoxLocator", py::tuple(), ns,
                                  "元素定位表达式，[value , by , index]\n代替此前的 (by, value)");
}

} // namespace lumox::actlib_utils

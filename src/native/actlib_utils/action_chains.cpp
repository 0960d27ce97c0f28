// MyActionChains: selenium's ActionChains with touch pointers made on demand, one new
// W3C pointer input per gesture, so that several fingers combine in one action sequence.
#include "actlib_utils.hpp"

#include "native/common/pyclass.hpp"

#include <string>

namespace lumox::actlib_utils {

namespace {

using py_helpers::method;
using py_helpers::to_str;

constexpr int kMoveMilliseconds = 1;

// The next pointer number of this chain; the counter only grows, so names stay unique.
std::string next_pointer_number(py::object self) {
    py::object count = py::object(self.attr("pointer_count")) + py::int_(1);
    self.attr("pointer_count") = count;
    return to_str(count);
}

py::object add_touch_input(py::object self, const std::string &name) {
    return self.attr("w3c_actions").attr("add_pointer_input")("touch", name);
}

py::object left_button() {
    return py::module_::import("selenium.webdriver.common.actions.mouse_button")
        .attr("MouseButton")
        .attr("LEFT");
}

py::object new_pointer(py::object self) {
    py::object input = add_touch_input(self, "p_" + next_pointer_number(self));
    return py::module_::import("selenium.webdriver.common.actions.pointer_actions")
        .attr("PointerActions")(input);
}

py::object click_by_new_pointer(py::object self, py::object element, py::object pause_time) {
    logger().info("AC: 新建指针并点击元素 " + to_str(element.attr("id")));
    py::object pause = py::float_(pause_time);
    py::object input = add_touch_input(self, "p" + next_pointer_number(self));
    input.attr("create_pointer_move")(py::arg("duration") = kMoveMilliseconds,
                                      py::arg("origin") = element);
    input.attr("create_pointer_down")(py::arg("button") = left_button());
    input.attr("create_pause")(pause);
    input.attr("create_pointer_up")(left_button());
    return input;
}

void require_int(py::handle value, const char *name) {
    // bool is an int to Python, but never a coordinate.
    if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value)) {
        raise_argument_type("touch_by_new_pointer()", name, "int", value);
    }
}

py::object touch_by_new_pointer(py::object self, py::object start_x, py::object start_y,
                                py::object end_x, py::object end_y, py::object pause_time) {
    require_int(start_x, "start_x");
    require_int(start_y, "start_y");
    require_int(end_x, "end_x");
    require_int(end_y, "end_y");
    py::object pause = py::float_(pause_time);
    logger().info("创建指针并滑动屏幕 start_x=" + to_str(start_x) + ", start_y=" + to_str(start_y) +
                  " -> end_x=" + to_str(end_x) + "," + to_str(end_y));
    py::object input = add_touch_input(self, "p" + next_pointer_number(self));
    input.attr("create_pointer_move")(py::arg("duration") = kMoveMilliseconds,
                                      py::arg("x") = start_x, py::arg("y") = start_y);
    input.attr("create_pointer_down")(py::arg("button") = left_button());
    input.attr("create_pause")(pause);
    input.attr("create_pointer_move")(py::arg("duration") = kMoveMilliseconds, py::arg("x") = end_x,
                                      py::arg("y") = end_y);
    input.attr("create_pointer_up")(left_button());
    return input;
}

} // namespace

py::object define_action_chains(py::module_ &module) {
    py::dict ns;
    ns["pointer_count"] = 1;
    ns["new_pointer"] =
        method(&new_pointer, "new_pointer", py::arg("self"),
               "Adds a touch pointer input p_<n> and returns its PointerActions builder.");
    ns["click_by_new_pointer"] =
        method(&click_by_new_pointer, "click_by_new_pointer", py::arg("self"), py::arg("element"),
               py::arg("pause_time") = 0.1,
               "A tap on `element` by a new touch pointer p<n>: move (1 ms), down, pause, up. "
               "Returns the pointer input.");
    ns["touch_by_new_pointer"] = method(
        &touch_by_new_pointer, "touch_by_new_pointer", py::arg("self"), py::arg("start_x"),
        py::arg("start_y"), py::arg("end_x"), py::arg("end_y"), py::arg("pause_time") = 0.1,
        "A swipe by a new touch pointer p<n> from (start_x, start_y) to (end_x, end_y), "
        "viewport coordinates as int: move, down, pause, move, up. Returns the pointer input.");
    py::object base =
        py::module_::import("selenium.webdriver.common.action_chains").attr("ActionChains");
    return py_helpers::make_class(module, "MyActionChains", py::make_tuple(base), ns,
                                  "ActionChains with touch pointers created on demand, one per "
                                  "gesture, combined in one W3C action sequence.");
}

} // namespace lumox::actlib_utils

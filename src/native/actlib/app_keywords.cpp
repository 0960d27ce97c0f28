#include "app_keywords.hpp"

#include "check_keywords.hpp"
#include "device_keywords.hpp"
#include "driver_session.hpp"
#include "page_keywords.hpp"
#include "shared.hpp"
#include "web_keywords.hpp"

#include "native/common/errors.hpp"
#include "native/common/keyword.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/truthy.hpp"

#include <string>
#include <vector>

namespace lumox::actlib {

namespace {

using py_helpers::add_keyword;
using py_helpers::KeywordArgs;
using py_helpers::KeywordParam;
using Kind = py_helpers::ParamKind;
using py_helpers::raise_error;
using py_helpers::to_repr;
using py_helpers::to_str;

constexpr const char *kNoChain = "ActionChains未创建，请使用 ac_new 关键字创建后再操作";
constexpr const char *kShakeScript = "mobile:execEmuConsoleCommand";
constexpr int kShakePasses = 1000;

py::object action_chains(py::handle driver) {
    return py::module_::import("lumox.actlib_utils").attr("MyActionChains")(driver);
}

// The pause of a gesture: `times`, already converted to seconds.
py::float_ pause_of(const KeywordArgs &call) { return py::float_(call["times"]); }

std::string swipe_line(const char *prefix, const KeywordArgs &call) {
    return std::string(prefix) + "start_x=" + to_str(call["start_x"]) +
           ", start_y=" + to_str(call["start_y"]) + " -> end_x=" + to_str(call["end_x"]) + "," +
           to_str(call["end_y"]);
}

// The pending chain of ac_new; without one the ERROR line and a ValueError.
bool required_ac(py::object self) {
    if (!self.attr("_ac").is_none()) {
        return true;
    }
    actlib_log().error(kNoChain);
    PyErr_SetString(PyExc_ValueError, kNoChain);
    py::error_already_set error;
    py_helpers::add_note(error, "a gesture is built between an ac_new row and an ac_perform "
                                "row; ac_perform sends it and ends the chain");
    throw error;
}

py::object pending_pointer(const KeywordArgs &call) {
    required_ac(call.self);
    return call.self.attr("_ac").attr("w3c_actions").attr("pointer_action");
}

// ---- keyword bodies ---------------------------------------------------------------------

void activity(const KeywordArgs &call) {
    py::object driver = driver_of(call);
    py::object activity_name = call["activity_name"];
    py::object package = call["package_name"];
    if (!py_helpers::truthy(package)) {
        package = driver.attr("current_package");
    }
    // Older clients still carry start_activity; current ones reach the same operation of
    // the Android drivers as a mobile: command.
    if (py::hasattr(driver, "start_activity")) {
        driver.attr("start_activity")(package, activity_name);
        return;
    }
    py::dict intent;
    intent["intent"] = to_str(package) + "/" + to_str(activity_name);
    driver.attr("execute_script")("mobile: startActivity", intent);
}

void context(const KeywordArgs &call) {
    py::object driver = driver_of(call);
    py::object name = call["context_name"];
    try {
        driver.attr("switch_to").attr("context")(name);
    } catch (py::error_already_set &error) {
        if (!error.matches(
                py::module_::import("selenium.common.exceptions").attr("WebDriverException"))) {
            throw;
        }
        std::string known = "(the session did not list them)";
        try {
            known = to_str(py::str(", ").attr("join")(driver.attr("contexts")));
        } catch (py::error_already_set &) {
            // The error of the switch is the one that matters.
        }
        py_helpers::add_note(error, "context: no context " + to_repr(name) +
                                        " in this session; its contexts are " + known);
        throw error;
    }
}

void press(const KeywordArgs &call) {
    actlib_log().info("长按元素 locator=" + to_str(call["locator"]) +
                      ", times=" + to_str(call["times"]));
    py::float_ pause = pause_of(call);
    py::object element = find(call, call["locator"]);
    py::object chain = action_chains(driver_of(call));
    py::object pointer = chain.attr("w3c_actions").attr("pointer_action");
    pointer.attr("move_to")(element);
    pointer.attr("pointer_down")();
    pointer.attr("pause")(pause);
    pointer.attr("release")();
    chain.attr("perform")();
}

void swipe(const KeywordArgs &call) {
    py::object start_x = call["start_x"];
    py::object start_y = call["start_y"];
    py::object end_x = call["end_x"];
    py::object end_y = call["end_y"];
    py::float_ pause = pause_of(call);
    actlib_log().info(swipe_line("滑动屏幕 ", call));
    py::object driver = driver_of(call);
    py::object touch = py::module_::import("selenium.webdriver.common.actions.pointer_input")
                           .attr("PointerInput")(
                               py::module_::import("selenium.webdriver.common.actions.interaction")
                                   .attr("POINTER_TOUCH"),
                               "touch");
    py::object chain = action_chains(driver);
    chain.attr("w3c_actions") =
        py::module_::import("selenium.webdriver.common.actions.action_builder")
            .attr("ActionBuilder")(driver, py::arg("mouse") = touch);
    py::object pointer = chain.attr("w3c_actions").attr("pointer_action");
    pointer.attr("move_to_location")(start_x, start_y);
    pointer.attr("pointer_down")();
    pointer.attr("pause")(pause);
    pointer.attr("move_to_location")(end_x, end_y);
    pointer.attr("release")();
    chain.attr("perform")();
}

void ac_perform(const KeywordArgs &call) {
    actlib_log().info("执行创建的动作链");
    required_ac(call.self);
    call.self.attr("_ac").attr("perform")();
    call.self.attr("_ac") = py::none();
}

void ac_new_click(const KeywordArgs &call) {
    actlib_log().info("新的动作：点击元素 locator=" + to_str(call["locator"]));
    required_ac(call.self);
    py::float_ pause = pause_of(call);
    py::object element = find(call, call["locator"]);
    py::object pointer = call.self.attr("_ac").attr("new_pointer")();
    pointer.attr("move_to")(element);
    pointer.attr("pointer_down")();
    pointer.attr("pause")(pause);
    pointer.attr("pointer_up")();
}

void ac_new_swipe(const KeywordArgs &call) {
    py::object start_x = call["start_x"];
    py::object start_y = call["start_y"];
    py::object end_x = call["end_x"];
    py::object end_y = call["end_y"];
    actlib_log().info(swipe_line("新的动作：滑动屏幕 ", call));
    required_ac(call.self);
    call.self.attr("_ac").attr("touch_by_new_pointer")(start_x, start_y, end_x, end_y,
                                                       pause_of(call));
}

void ac_touch_down(const KeywordArgs &call) {
    actlib_log().info("新的动作：线下指针x=" + to_str(call["x"]) + ", y=" + to_str(call["y"]));
    py::object pointer = pending_pointer(call);
    pointer.attr("move_to_location")(call["x"], call["y"]);
    pointer.attr("pointer_down")();
}

void ac_ele_down(const KeywordArgs &call) {
    actlib_log().info("新的动作：按下元素locator=" + to_str(call["locator"]));
    py::object pointer = pending_pointer(call);
    pointer.attr("move_to")(find(call, call["locator"]));
    pointer.attr("pointer_down")();
}

void ac_touch_move(const KeywordArgs &call) {
    actlib_log().info("新的动作：移动指针 x=" + to_str(call["x"]) + ", y=" + to_str(call["y"]));
    pending_pointer(call).attr("move_to_location")(call["x"], call["y"]);
}

void ac_ele_move(const KeywordArgs &call) {
    actlib_log().info("新的动作：移动元素locator=" + to_str(call["locator"]));
    py::object pointer = pending_pointer(call);
    pointer.attr("move_to")(find(call, call["locator"]));
}

void ac_touch_up(const KeywordArgs &call) {
    actlib_log().info("新的动作：释放指针");
    pending_pointer(call).attr("release")();
}

void shake(const KeywordArgs &call) {
    py::object driver = driver_of(call);
    const std::string reference = to_str(driver.attr("page_source"));
    py::dict shaking;
    shaking["command"] = "sensor set acceleration 10:20:30";
    py::dict resting;
    resting["command"] = "sensor set acceleration 0:0:0";
    for (int i = 0; i < kShakePasses; ++i) {
        py::print("第" + std::to_string(i) + "次摇晃");
        driver.attr("execute_script")(kShakeScript, shaking);
        driver.attr("execute_script")(kShakeScript, resting);
        if (to_str(driver.attr("page_source")) != reference) {
            return;
        }
    }
}

constexpr const char *kElementDoc = "元素的定位器字符串，具体格式请参考关键字：show";

// The parameters of a gesture between two points, and how long it lasts.
std::vector<KeywordParam> swipe_params(const char *start_x, const char *start_y, const char *end_x,
                                       const char *end_y, const char *times) {
    return {{"start_x", Kind::integer, start_x},
            {"start_y", Kind::integer, start_y},
            {"end_x", Kind::integer, end_x},
            {"end_y", Kind::integer, end_y},
            {"times", Kind::seconds, times, 0.1}};
}

const std::vector<KeywordParam> kPointParams = {{"x", Kind::integer, "坐标的x值"},
                                                {"y", Kind::integer, "坐标的y值"}};

void add_device_keywords(py::module_ &module, py::dict ns) {
    add_keyword(module, ns,
                {.name = "activity",
                 .title = "启动新的Activity",
                 .summary = "启动新会话",
                 .params = {{"activity_name", Kind::text, "Activity名"},
                            {"package_name", Kind::text, "包名，默认为当前包", py::none()}},
                 .body = activity});
    add_keyword(
        module, ns,
        {.name = "context",
         .title = "切换上下文",
         .summary = "切换上下文（适用于Appium）",
         .params = {{"context_name", Kind::text, "上下文的名字，默认值：NATIVE_APP", "NATIVE_APP"}},
         .body = context});
    add_keyword(module, ns,
                {.name = "press",
                 .title = "长按元素",
                 .summary = "长按指定的元素（适用于Appium）",
                 .params = {{"locator", Kind::locator,
                             "要长按的元素的定位器字符串，具体格式请参考关键字：show"},
                            {"times", Kind::seconds, "长按的秒数，默认为：1.0", 1.0}},
                 .body = press});
    add_keyword(module, ns,
                {.name = "swipe",
                 .title = "滑动屏幕",
                 .summary = "在屏幕上滑动（适用于Appium）",
                 .params = swipe_params("起始位置的x坐标", "起始位置的y坐标", "终点位置的x坐标值",
                                        "终点位置的y坐标值", "滑动持续的秒数，默认为：0.1"),
                 .body = swipe});
    add_keyword(module, ns,
                {.name = "shake",
                 .title = "模拟手机摇一摇",
                 .summary = "模拟摇晃手机 （适用于Appium +  Android 模拟器）",
                 .params = {},
                 .body = shake});
}

void add_chain_keywords(py::module_ &module, py::dict ns) {
    add_keyword(module, ns,
                {.name = "ac_new",
                 .title = "创建新的动作链",
                 .summary = "创建新的ActionChains （适用于Appium）",
                 .params = {},
                 .body = [](const KeywordArgs &call) {
                     call.self.attr("_ac") = action_chains(driver_of(call));
                 }});
    add_keyword(module, ns,
                {.name = "ac_perform",
                 .title = "执行创建的动作链",
                 .summary = "执行，并移除此前创建的ActionChains（适用于Appium）",
                 .params = {},
                 .body = ac_perform});
    add_keyword(module, ns,
                {.name = "ac_new_click",
                 .title = "新的动作：点击元素",
                 .summary = "使用新指针点击元素（多点触控） （适用于Appium）",
                 .params = {{"locator", Kind::locator,
                             "要点击的元素的定位器字符串，具体格式请参考关键字：show"},
                            {"times", Kind::seconds, "持续的秒数，默认为：0.1", 0.1}},
                 .body = ac_new_click});
    add_keyword(module, ns,
                {.name = "ac_new_swipe",
                 .title = "新的动作：滑动屏幕",
                 .summary = "使用新指针进行滑动（多点触控），也用于坐标值点击（适用于Appium）",
                 .params = swipe_params("int", "int", "int", "int", "float = 0.1"),
                 .body = ac_new_swipe});
    add_keyword(module, ns,
                {.name = "ac_touch_down",
                 .title = "新的动作：按下指针",
                 .summary = "使指针在指定坐标按下 （适用于Appium）",
                 .params = kPointParams,
                 .body = ac_touch_down});
    add_keyword(module, ns,
                {.name = "ac_ele_down",
                 .title = "新的动作：按下元素",
                 .summary = "使指针在指定元素上按下 （适用于Appium）",
                 .params = {{"locator", Kind::locator, kElementDoc}},
                 .body = ac_ele_down});
    add_keyword(module, ns,
                {.name = "ac_touch_move",
                 .title = "新的动作：移动指针",
                 .summary = "使指针移动到指定坐标 （适用于Appium）",
                 .params = kPointParams,
                 .body = ac_touch_move});
    add_keyword(module, ns,
                {.name = "ac_ele_move",
                 .title = "新的动作：移动元素",
                 .summary = "使指针移动到指定元素 （适用于Appium）",
                 .params = {{"locator", Kind::locator, kElementDoc}},
                 .body = ac_ele_move});
    add_keyword(module, ns,
                {.name = "ac_touch_up",
                 .title = "新的动作：释放指针",
                 .summary = "释放按下的指针 （适用于Appium）",
                 .params = {},
                 .body = ac_touch_up});
    add_keyword(module, ns,
                {.name = "ac_ele_up",
                 .title = "新的动作：释放指针",
                 .summary = "释放按下的指针 （适用于Appium）",
                 .params = {},
                 // Through the keyword method, so that it is a report step of its own.
                 .body = [](const KeywordArgs &call) { call.self.attr("key_ac_touch_up")(); }});
}

} // namespace

py::object define_app_keyword(py::module_ &module, py::object base_keyword) {
    py::dict ns;
    // An app session starts like a browser: new_driver android <Appium server> <capabilities>.
    add_session_keywords(module, ns);
    // Tapping, typing and reading need no browser: `keyword_type = app` is enough for an app.
    add_element_keywords(module, ns);
    add_check_keywords(module, ns);
    ns["_ac"] = py::none(); // the pending touch action chain (MyActionChains)
    ns["_required_ac"] = py_helpers::method(
        &required_ac, "_required_ac", py::arg("self"),
        "True when ac_new has started a chain; otherwise logs the error and raises ValueError.");
    add_device_keywords(module, ns);
    add_chain_keywords(module, ns);
    add_screen_keywords(module, ns);
    add_device_action_keywords(module, ns);
    return py_helpers::make_class(module, "AppKeyWord", py::make_tuple(base_keyword), ns,
                                  "Keyword library for mobile app tests over Appium.");
}

} // namespace lumox::actlib

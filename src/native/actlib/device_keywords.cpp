#include "device_keywords.hpp"

#include "driver_session.hpp"
#include "shared.hpp"

#include "core/ascii_text.hpp"

#include "native/common/errors.hpp"
#include "native/common/keyword.hpp"
#include "native/common/truthy.hpp"

#include <algorithm>
#include <string>

namespace lumox::actlib {

namespace {

using py_helpers::add_keyword;
using py_helpers::KeywordArgs;
using py_helpers::raise_error;
using py_helpers::to_repr;
using py_helpers::to_str;
using py_helpers::truthy;
using Kind = py_helpers::ParamKind;

// A `mobile:` command of the Appium drivers, with its named arguments.
py::object mobile(const KeywordArgs &call, const char *command, py::dict args = py::dict()) {
    return driver_of(call).attr("execute_script")(std::string("mobile: ") + command, args);
}

py::dict app_id_args(const KeywordArgs &call) {
    py::dict args;
    args["appId"] = py::str(call["app_id"]);    // Android drivers
    args["bundleId"] = py::str(call["app_id"]); // XCUITest
    return args;
}

// The screen point at `x_percent`, `y_percent` of a window of `size`.
py::int_ at_percent(py::handle size, const char *dimension, double percent) {
    // 100 % is the last pixel on screen, not the first one past it.
    const double extent = size[dimension].cast<double>();
    return py::int_(static_cast<long long>(std::min(extent * percent / 100.0, extent - 1)));
}

void check_percent(const KeywordArgs &call, const char *name) {
    const double value = call[name].cast<double>();
    if (value < 0 || value > 100) {
        raise_error(PyExc_ValueError, std::string("swipe_by_percent: ") + name +
                                          " must be a percentage from 0 to 100, not " +
                                          to_repr(call[name]));
    }
}

void swipe_by_percent(const KeywordArgs &call) {
    for (const char *name : {"start_x", "start_y", "end_x", "end_y"}) {
        check_percent(call, name);
    }
    py::object size = driver_of(call).attr("get_window_size")();
    // The swipe keyword itself, so the row shows the pixels as its own report step.
    call.self.attr("key_swipe")(at_percent(size, "width", call["start_x"].cast<double>()),
                                at_percent(size, "height", call["start_y"].cast<double>()),
                                at_percent(size, "width", call["end_x"].cast<double>()),
                                at_percent(size, "height", call["end_y"].cast<double>()),
                                call["times"]);
}

// Whether the locator's element is on screen now (no wait).
bool on_screen(const KeywordArgs &call, py::handle locator) {
    const Matches found = matches_now(call, locator);
    const auto index = found.locator.attr("index").cast<std::size_t>();
    if (found.elements.size() <= index) {
        return false;
    }
    try {
        return truthy(found.elements[index].attr("is_displayed")());
    } catch (py::error_already_set &error) {
        if (!element_went_away(error, true)) {
            throw;
        }
        return false;
    }
}

// Swipes across the middle of the screen until the element shows, at most `max_swipes`
// times; "up" moves the content up, to what is further down.
void scroll_to(const KeywordArgs &call) {
    py::object locator = call["locator"];
    const std::string direction =
        one_of(call, "scroll_to", "direction", {"up", "down", "left", "right"});
    double from_x = 50, from_y = 50, to_x = 50, to_y = 50;
    if (direction == "up") {
        from_y = 75, to_y = 25;
    } else if (direction == "down") {
        from_y = 25, to_y = 75;
    } else if (direction == "left") {
        from_x = 80, to_x = 20;
    } else {
        from_x = 20, to_x = 80;
    }
    const long long most = call["max_swipes"].cast<long long>();
    actlib_log().info("滑动查找元素: locator=" + to_str(locator) + ", direction=" + direction);
    py::object size = driver_of(call).attr("get_window_size")();
    for (long long swipes = 0;; ++swipes) {
        if (on_screen(call, locator)) {
            actlib_log().info("元素已在屏幕上: swipes=" + std::to_string(swipes));
            return;
        }
        if (swipes >= most) {
            raise_error(PyExc_AssertionError, "scroll_to: element " + to_str(locator) +
                                                  " is not on screen after " +
                                                  std::to_string(most) + " swipe(s) " + direction);
        }
        call.self.attr("key_swipe")(
            at_percent(size, "width", from_x), at_percent(size, "height", from_y),
            at_percent(size, "width", to_x), at_percent(size, "height", to_y), 0.1);
    }
}

void push_file(const KeywordArgs &call) {
    py::object path = py::module_::import("pathlib").attr("Path")(call["file"]);
    if (!truthy(path.attr("is_file")())) {
        raise_error(PyExc_FileNotFoundError, "push_file: no file " + to_repr(call["file"]));
    }
    actlib_log().info("上传文件到设备: " + to_str(call["file"]) + " -> " +
                      to_str(call["device_path"]));
    py::dict args;
    args["remotePath"] = py::str(call["device_path"]);
    args["payload"] = py::module_::import("base64")
                          .attr("b64encode")(path.attr("read_bytes")())
                          .attr("decode")("ascii");
    mobile(call, "pushFile", args);
}

void pull_file(const KeywordArgs &call) {
    py::dict args;
    args["remotePath"] = py::str(call["device_path"]);
    py::object payload = mobile(call, "pullFile", args);
    py::object path = py::module_::import("pathlib").attr("Path")(call["file"]);
    path.attr("parent").attr("mkdir")(py::arg("parents") = true, py::arg("exist_ok") = true);
    path.attr("write_bytes")(py::module_::import("base64").attr("b64decode")(payload));
    actlib_log().info("从设备下载文件: " + to_str(call["device_path"]) + " -> " +
                      to_str(call["file"]));
}

void orientation(const KeywordArgs &call) {
    // No default: an empty cell is refused, not taken as one of the two.
    const std::string wanted =
        core::upper_ascii(core::strip_blanks(to_str(py::str(call["orientation"]))));
    if (wanted != "PORTRAIT" && wanted != "LANDSCAPE") {
        raise_error(PyExc_ValueError, "orientation: orientation must be portrait or landscape, "
                                      "not " +
                                          to_repr(call["orientation"]));
    }
    actlib_log().info("设置屏幕方向: " + wanted);
    driver_of(call).attr("orientation") = wanted;
}

} // namespace

void add_device_action_keywords(py::module_ &module, py::dict ns) {
    const py_helpers::KeywordParam var_name{"var_name", Kind::var_name, "要保存的变量名"};
    const py_helpers::KeywordParam app_id{"app_id", Kind::text,
                                          "应用的包名（Android）或 bundle id（iOS）"};
    add_keyword(module, ns,
                {.name = "hide_keyboard",
                 .title = "隐藏键盘",
                 .summary = "隐藏屏幕键盘（适用于Appium）",
                 .params = {},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("隐藏键盘");
                     mobile(call, "hideKeyboard");
                 }});
    add_keyword(
        module, ns,
        {.name = "press_keycode",
         .title = "按下按键码",
         .summary = "按下Android按键码，如 4（返回）、3（主页）、66（回车）（适用于Appium）",
         .params = {{"keycode", Kind::integer, "Android按键码"},
                    {"metastate", Kind::integer, "组合键状态（可选），如 1（Shift）", py::none()}},
         .body = [](const KeywordArgs &call) {
             actlib_log().info("按键码: keycode=" + to_str(call["keycode"]) +
                               ", metastate=" + to_str(call["metastate"]));
             py::dict args;
             args["keycode"] = call["keycode"];
             if (!call["metastate"].is_none()) {
                 args["metastate"] = call["metastate"];
             }
             mobile(call, "pressKey", args);
         }});
    add_keyword(module, ns,
                {.name = "scroll_to",
                 .title = "滑动到元素",
                 .summary = "在屏幕中部滑动，直到元素出现在屏幕上（适用于Appium）",
                 .params = {{"locator", Kind::locator},
                            {"direction", Kind::text,
                             "滑动方向：up（向上滑，看下面的内容，默认）、down、left、right", "up"},
                            {"max_swipes", Kind::integer, "最多滑动的次数，默认为10", 10}},
                 .body = scroll_to});
    add_keyword(module, ns,
                {.name = "swipe_by_percent",
                 .title = "按比例滑动屏幕",
                 .summary = "按屏幕宽高的百分比滑动（适用于Appium）",
                 .params = {{"start_x", Kind::number, "起点x，屏幕宽度的百分比（0-100）"},
                            {"start_y", Kind::number, "起点y，屏幕高度的百分比（0-100）"},
                            {"end_x", Kind::number, "终点x，屏幕宽度的百分比（0-100）"},
                            {"end_y", Kind::number, "终点y，屏幕高度的百分比（0-100）"},
                            {"times", Kind::seconds, "滑动持续的秒数，默认为：0.1", 0.1}},
                 .body = swipe_by_percent});
    add_keyword(module, ns,
                {.name = "install_app",
                 .title = "安装应用",
                 .summary = "安装应用（apk、ipa 或 app 的路径，位于Appium服务器上）",
                 .params = {{"app_path", Kind::text, "应用文件在Appium服务器上的路径"}},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("安装应用: " + to_str(call["app_path"]));
                     py::dict args;
                     args["appPath"] = call["app_path"]; // Android drivers
                     args["app"] = call["app_path"];     // XCUITest
                     mobile(call, "installApp", args);
                 }});
    add_keyword(module, ns,
                {.name = "activate_app",
                 .title = "启动应用",
                 .summary = "启动应用或将其切换到前台",
                 .params = {app_id},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("启动应用: " + to_str(call["app_id"]));
                     mobile(call, "activateApp", app_id_args(call));
                 }});
    add_keyword(module, ns,
                {.name = "terminate_app",
                 .title = "结束应用",
                 .summary = "结束正在运行的应用",
                 .params = {app_id},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("结束应用: " + to_str(call["app_id"]));
                     mobile(call, "terminateApp", app_id_args(call));
                 }});
    add_keyword(module, ns,
                {.name = "background_app",
                 .title = "应用切到后台",
                 .summary = "把当前应用切到后台，指定秒数后回到前台",
                 .params = {{"seconds", Kind::seconds, "在后台的秒数，默认为1", 1.0}},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("应用切到后台: seconds=" + to_str(call["seconds"]));
                     py::dict args;
                     args["seconds"] = call["seconds"];
                     mobile(call, "backgroundApp", args);
                 }});
    add_keyword(module, ns,
                {.name = "orientation",
                 .title = "设置屏幕方向",
                 .summary = "设置屏幕方向",
                 .params = {{"orientation", Kind::text, "portrait（竖屏）或 landscape（横屏）"}},
                 .body = orientation});
    add_keyword(module, ns,
                {.name = "push_file",
                 .title = "上传文件到设备",
                 .summary = "把本机的文件上传到设备",
                 .params = {{"device_path", Kind::text, "设备上的路径，如 /sdcard/Download/a.txt"},
                            {"file", Kind::file_path, "本机文件的路径"}},
                 .body = push_file});
    add_keyword(module, ns,
                {.name = "pull_file",
                 .title = "从设备下载文件",
                 .summary = "把设备上的文件保存到本机",
                 .params = {{"device_path", Kind::text, "设备上的路径"},
                            {"file", Kind::file_path, "保存到本机的路径"}},
                 .body = pull_file});
    add_keyword(module, ns,
                {.name = "save_context",
                 .title = "保存[当前上下文]",
                 .summary = "保存当前上下文的名字，如 NATIVE_APP、WEBVIEW_1",
                 .params = {var_name},
                 .body = [](const KeywordArgs &call) {
                     call.self.attr("set_vars")(call["var_name"],
                                                driver_of(call).attr("current_context"));
                 }});
    add_keyword(module, ns,
                {.name = "save_activity",
                 .title = "保存[当前Activity]",
                 .summary = "保存当前的Activity（Android）",
                 .params = {var_name},
                 .body = [](const KeywordArgs &call) {
                     call.self.attr("set_vars")(call["var_name"],
                                                mobile(call, "getCurrentActivity"));
                 }});
}

} // namespace lumox::actlib

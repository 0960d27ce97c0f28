#include "web_keywords.hpp"

#include "browser_keywords.hpp"
#include "check_keywords.hpp"
#include "driver_session.hpp"
#include "page_keywords.hpp"
#include "shared.hpp"

#include "core/notice_text.hpp"
#include "core/xpath.hpp"
#include "native/actlib_utils/page_scripts.hpp"
#include "native/common/errors.hpp"
#include "native/common/keyword.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"
#include "native/common/step.hpp"
#include "native/common/truthy.hpp"

#include <cmath>
#include <string>

namespace lumox::actlib {

namespace {

using py_helpers::add_keyword;
using py_helpers::in_step;
using py_helpers::KeywordArgs;
using Kind = py_helpers::ParamKind;
using py_helpers::raise_error;
using py_helpers::to_repr;
using py_helpers::to_str;
using py_helpers::truthy;

// ---- dialogs and texts ---------------------------------------------------------------

py::object current_alert(const KeywordArgs &call) {
    py::object condition = call.self.attr("_wait_alert");
    py::object wait = wait_of(call);
    return wait.attr("until")(condition,
                              "no dialog (alert, confirm or prompt) opened " + waited(wait));
}

// Text for the browser: numbers from workbook cells are typed as written.
py::object as_text(py::handle value) {
    if (py::isinstance<py::str>(value)) {
        return py::reinterpret_borrow<py::object>(value);
    }
    return py::str(value);
}

// A pixel offset of `move`: a whole number, numeric text, or nothing (0).
py::int_ pixel_offset(py::handle value, const char *name) {
    if (value.is_none()) {
        return py::int_(0);
    }
    if (!PyBool_Check(value.ptr())) {
        if (py::isinstance<py::int_>(value)) {
            return py::reinterpret_borrow<py::int_>(value);
        }
        try {
            const double number = py::float_(py::module_::import("builtins").attr("float")(value));
            // Beyond any screen, and beyond what lround can represent.
            if (std::isfinite(number) && std::fabs(number) < 1e9) {
                return py::int_(static_cast<long long>(std::lround(number)));
            }
        } catch (py::error_already_set &error) {
            if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) {
                throw;
            }
        }
    }
    raise_error(PyExc_TypeError, std::string("move: ") + name +
                                     " must be a number of pixels, not " + to_repr(value));
}

// ---- keyword bodies ---------------------------------------------------------------------

py::object parse_capabilities(py::handle text) {
    if (!truthy(text)) {
        return py::none();
    }
    py::object parsed;
    try {
        parsed = json().attr("loads")(text);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) {
            throw;
        }
        py_helpers::raise_from(error, PyExc_ValueError,
                               "new_driver: capabilities is not valid JSON: " + to_repr(text) +
                                   " (" + to_str(error.value()) + ")");
    }
    if (!py::isinstance<py::dict>(parsed)) {
        raise_error(PyExc_ValueError, "new_driver: capabilities must be a JSON object such as "
                                      "{\"acceptInsecureCerts\": true}, not " +
                                          to_repr(text));
    }
    return parsed;
}

void new_driver(const KeywordArgs &call) {
    py::object browser = call["browser"];
    py::object hub = call["hub"];
    py::object capabilities = call["capabilities"];
    if (!py::isinstance<py::str>(capabilities)) {
        py_helpers::raise_argument_type("key_new_driver()", "capabilities", "str", capabilities);
    }
    // A hub's password stays out of the log.
    actlib_log().info(core::mask_secrets("启动新的设备: browser=" + to_str(browser) + ",hub=" +
                                             to_str(hub) + ", capabilities=" + to_str(capabilities),
                                         core::url_secrets(to_str(hub))));
    py::object parsed = parse_capabilities(capabilities);
    py::object driver =
        py::module_::import("lumox.webdriver")
            .attr("get_webdriver")(browser, py::arg("hub") = hub, py::arg("capabilities") = parsed);

    py::object self = call.self;
    // Sessions this object started are quit with its case (close_drivers).
    if (self.attr("_own_drivers").is_none()) {
        self.attr("_own_drivers") = py::list();
    }
    self.attr("_own_drivers").attr("append")(driver);
    self.attr("_use_driver")(driver, "lumox.actlib");
    actlib_log().info("新设备启动成功");
}

void close_drivers(py::object self) {
    py::object drivers = self.attr("_own_drivers");
    self.attr("_own_drivers") = py::none();
    if (drivers.is_none()) {
        return;
    }
    for (py::handle driver : drivers) {
        if (self.attr("driver").ptr() == driver.ptr()) {
            self.attr("driver") = py::none();
            self.attr("wait") = py::none();
        }
        try {
            driver.attr("quit")();
        } catch (py::error_already_set &error) {
            // A browser that is already gone has nothing left to stop; the case's result
            // is not changed by its cleanup.
            if (!error.matches(PyExc_Exception)) {
                throw;
            }
            actlib_log().warning("could not quit a browser session: " + to_str(error.value()));
        }
    }
}

void goto_page(const KeywordArgs &call) {
    py::object url = call["url"];
    if (!py::isinstance<py::str>(url)) {
        py_helpers::raise_argument_type("key_goto()", "url", "str", url);
    }
    driver_of(call).attr("get")(page_url(url));
}

void touch(const KeywordArgs &call) {
    py::object element = find(call, call["locator"]);
    in_step("暂存元素", py::dict(), [&] { call.self.attr("_activate_ele") = element; });
}

void click(const KeywordArgs &call) {
    act_on_ready(call, "元素就绪，准备点击... ele.id=", [&](py::object element) {
        if (truthy(call["force"])) {
            driver_of(call).attr("execute_script")("return arguments[0].click()", element);
        } else {
            element.attr("click")();
        }
    });
}

void input(const KeywordArgs &call) {
    act_on_ready(call, "元素就绪，准备输入... ele.id=", [&](py::object element) {
        if (truthy(call["clear"]) &&
            !truthy(py::getattr(element, actlib_utils::page_scripts::kSeenEmptyAttr,
                                py::bool_(false)))) {
            element.attr("clear")();
        }
        py::object content = call["content"];
        element.attr("send_keys")(content.is_none() ? py::str("") : as_text(content));
    });
}

void chosen(const KeywordArgs &call) {
    py::object element = find(call, call["locator"]);
    element.attr("click")();
    actlib_log().info("加载选项...");
    if (actlib_log().debug_enabled()) {
        actlib_log().debug(to_str(element.attr("text"))); // a round trip to the browser
    }
    const std::string value = to_str(as_text(call["value"]));
    // The option whose text is exactly the value, whatever quotes it holds.
    const std::string xpath = "./div/ul/li[text()=" + core::xpath_literal(value) + "]";
    py::object option = wait_until(
        call,
        [element, xpath]() -> py::object { return element.attr("find_element")("xpath", xpath); },
        "no option with the text " + to_repr(py::str(value)) + " in the chosen list " +
            to_str(call["locator"]));
    actlib_log().info("选中选项： [" + to_str(option.attr("tag_name")) + ": " +
                      to_str(option.attr("text")) + "]");
    option.attr("click")();
    actlib_log().info("点击选项");
}

void sleep(const KeywordArgs &call) {
    actlib_log().info("强制等待");
    // Python's sleep, so that Ctrl-C still stops the run; `times` is seconds already.
    py::module_::import("time").attr("sleep")(call["times"]);
}

void show(const KeywordArgs &call) {
    py::object element = find(call, call["locator"]);
    driver_of(call).attr("execute_script")("arguments[0].scrollIntoView(true)", element);
}

void move(const KeywordArgs &call) {
    py::object x = call["x"];
    py::object y = call["y"];
    const std::string offsets = ", x=" + to_str(x) + ", y=" + to_str(y);
    actlib_log().info("鼠标悬停: locator=" + to_str(call["locator"]) + offsets);
    py::int_ dx = pixel_offset(x, "x");
    py::int_ dy = pixel_offset(y, "y");
    py::object element = find(call, call["locator"]);
    py::object chain =
        py::module_::import("lumox.actlib_utils").attr("MyActionChains")(driver_of(call));
    chain.attr("move_to_element_with_offset")(element, dx, dy);
    chain.attr("perform")();
    actlib_log().info("鼠标悬停完成: elm.rect=" + to_str(element.attr("rect")) + offsets);
}

py::object shell(const KeywordArgs &call) {
    py::object args = call["scrip_args"]; // parsed from its JSON text
    py::object driver = driver_of(call);
    py::object script = call["scrip"];
    // The tester's script reads the page as the page left it: lumox's highlight comes off
    // first, in the same request. App sessions take "mobile: ..." commands here, as written.
    if (py::isinstance<py::str>(script) && !is_app_session(driver)) {
        script = py::str("try { window.__lumox.unlight(); } catch (error) {}\n"
                         "return (function () {\n" +
                         to_str(script) + "\n}).apply(this, arguments);");
    }
    py::object result = driver.attr("execute_script")(script, args);
    actlib_log().info("命令执行结果:res=" + to_str(result));
    return result;
}

void debugger(const KeywordArgs &call) {
    actlib_log().warning("进入调试，请确保框架处于交互模式！");
    py::object driver = driver_of(call);
    // Sessions from other factories lack debugger(): the same prompt is used for them.
    if (py::hasattr(driver, "debugger")) {
        driver.attr("debugger")();
    } else {
        py::module_::import("lumox.webdriver").attr("debugger")(driver);
    }
}

// ---- frames, dialogs, saved values ------------------------------------------------------

void frame_enter(const KeywordArgs &call) {
    actlib_log().info("进入frame locator=" + to_str(call["locator"]));
    py::object element = find(call, call["locator"]);
    // The tag the find script read with the element, or the browser's answer.
    const std::string tag = to_str(py::getattr(element, "found_tag_name", py::none()).is_none()
                                       ? element.attr("tag_name")
                                       : element.attr("found_tag_name"));
    if (tag != "iframe") {
        PyErr_SetNone(PyExc_AssertionError);
        py::error_already_set error;
        py_helpers::add_note(error, "frame_enter: " + to_str(call["locator"]) + " is a <" + tag +
                                        ">, not an <iframe>");
        throw error;
    }
    driver_of(call).attr("switch_to").attr("frame")(element);
}

py::object wait_alert(py::object driver) {
    try {
        return driver.attr("switch_to").attr("alert");
    } catch (py::error_already_set &error) {
        if (!error.matches(
                py::module_::import("selenium.common.exceptions").attr("WebDriverException"))) {
            throw;
        }
        return py::bool_(false);
    }
}

void alert_ok(const KeywordArgs &call) {
    actlib_log().info("为alert点击[确定]");
    py::object alert = current_alert(call);
    py::object text = call["text"];
    if (truthy(text)) {
        alert.attr("send_keys")(as_text(text));
    }
    alert.attr("accept")();
}

void alert_cancel(const KeywordArgs &call) {
    actlib_log().info("为alert点击[取消]");
    current_alert(call).attr("dismiss")();
}

void save(const KeywordArgs &call) {
    actlib_log().info("保存变量: 【" + to_str(call["var_name"]) + "】 = " + to_str(call["value"]));
    call.self.attr("set_vars")(call["var_name"], call["value"]);
}

void save_text(const KeywordArgs &call) {
    py::object locator = call["locator"];
    py::object text;
    if (to_str(py::str(locator).attr("lower")()) == "alert") {
        text = current_alert(call).attr("text");
    } else {
        // Found again when the page replaced it between the find and the reading.
        const auto read = [call, locator]() -> py::object {
            return on_fresh_element([&] { return find(call, locator); },
                                    [](py::object element) { return element.attr("text"); });
        };
        text = truthy(call["allow_empty"])
                   ? read()
                   : wait_until(call, read, "the text of " + to_str(locator) + " stayed empty");
    }
    call.self.attr("set_vars")(call["var_name"], text);
}

void save_attr(const KeywordArgs &call) {
    py::object value = on_fresh_element(
        [&] { return find(call, call["locator"]); },
        [&](py::object element) { return element.attr("get_attribute")(call["attr_name"]); });
    call.self.attr("set_vars")(call["var_name"], value);
}

void add_page_keywords(py::module_ &module, py::dict ns) {
    add_keyword(module, ns,
                {.name = "goto",
                 .title = "跳转到指定页面",
                 .summary = "跳转到指定页面",
                 .params = {{"url", Kind::text, "指定页面的url"}},
                 .body = goto_page});
    add_keyword(module, ns,
                {.name = "touch",
                 .title = "聚焦元素",
                 .summary = "聚焦指定元素",
                 .params = {{"locator", Kind::locator}},
                 .body = touch});
    add_keyword(
        module, ns,
        {.name = "chosen",
         .title = "处理下拉选择",
         .summary = "适用于jquery-chosen的下拉选择",
         .params = {{"locator", Kind::locator}, {"value", Kind::text, "要输入的值，支持变量引用"}},
         .body = chosen,
         .label = "关键字: "});
    add_keyword(module, ns,
                {.name = "sleep",
                 .title = "强制等待",
                 .summary = "用例强制等待x 秒",
                 .params = {{"times", Kind::seconds, "等待的秒数，可以有小数点"}},
                 .body = sleep});
    add_keyword(module, ns,
                {.name = "show",
                 .title = "展示元素",
                 .summary = "滚动画面使指定元素可见",
                 .params = {{"locator", Kind::locator,
                             "定位器字符串，格式为 value ;; by ;; index，by 和 index 可以省略\n"
                             "    value: 定位表达式，如 xpath、css 选择器、id\n"
                             "    by: 定位策略，大写的策略名，默认为 XPATH（另有 CSS_SELECTOR、ID、"
                             "NAME、LINK_TEXT 等）\n"
                             "    index: 使用第几个匹配的元素，从 0 开始，默认为 0\n"
                             "    value 中的 ;; 写作 \\;;\n"
                             "    例如：//form//input\n"
                             "    例如：kw ;; ID\n"
                             "    例如：//ul[@class='items']/li ;; XPATH ;; 2"}},
                 .body = show});
    add_keyword(module, ns,
                {.name = "move",
                 .title = "鼠标悬停",
                 .summary = "鼠标移动指定元素的相对位置",
                 .params = {{"locator", Kind::locator},
                            {"x", Kind::any, "相对元素中心的水平位置，偏移x像素", 0},
                            {"y", Kind::any, "相对元素中心的垂直位置，偏移y像素", 0}},
                 .body = move});
    add_keyword(module, ns,
                {.name = "shell",
                 .title = "执行脚本命令",
                 .summary = "执行脚本命令",
                 .params = {{"scrip", Kind::text, "脚本命令"},
                            {"scrip_args", Kind::json_value, "参数，支持json字符串", "null"}},
                 .body = shell});
    add_keyword(module, ns,
                {.name = "debugger",
                 .title = "进入调试",
                 .summary = "进入调试模式",
                 .params = {},
                 .body = debugger});
}

void add_frame_and_value_keywords(py::module_ &module, py::dict ns) {
    add_keyword(module, ns,
                {.name = "frame_enter",
                 .title = "进入frame",
                 .summary = "进入指定的iframe",
                 .params = {{"locator", Kind::locator,
                             "iframe元素的定位器字符串，具体格式请参考关键字：show"}},
                 .body = frame_enter});
    add_keyword(module, ns,
                {.name = "frame_exit",
                 .title = "返回上一层frame",
                 .summary = "退出iframe",
                 .params = {},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("返回上一层frame");
                     driver_of(call).attr("switch_to").attr("parent_frame")();
                 }});
    add_keyword(module, ns,
                {.name = "frame_top",
                 .title = "返回顶层frame",
                 .summary = "返回到顶层frame",
                 .params = {},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("返回顶层frame");
                     driver_of(call).attr("switch_to").attr("default_content")();
                 }});
    add_keyword(module, ns,
                {.name = "alert_ok",
                 .title = "对话框[确定]",
                 .summary = "为alert点击确定",
                 .params = {{"text", Kind::text, "如果输入的内容（可选）", py::none()}},
                 .body = alert_ok});
    add_keyword(module, ns,
                {.name = "alert_cancel",
                 .title = "对话框[取消]",
                 .summary = "为alert点击取消",
                 .params = {},
                 .body = alert_cancel});
    add_keyword(module, ns,
                {.name = "save",
                 .title = "保存[变量]",
                 .summary = "保存变量\n"
                            "变量应该是一个字符串，在字符串中使用`{}`标签将自动引用已有变量",
                 .params = {{"var_name", Kind::var_name, "变量名"},
                            {"value", Kind::any, "变量值（字符串）"}},
                 .body = save});
    add_keyword(module, ns,
                {.name = "save_title",
                 .title = "保存[页面标题]",
                 .summary = "保存网页标题",
                 .params = {{"var_name", Kind::var_name, "要保存的变量名"}},
                 .body = [](const KeywordArgs &call) {
                     call.self.attr("set_vars")(call["var_name"], driver_of(call).attr("title"));
                 }});
    add_keyword(module, ns,
                {.name = "save_url",
                 .title = "保存[URL]",
                 .summary = "保存当前网址",
                 .params = {{"var_name", Kind::var_name, "要保存的变量名"}},
                 .body = [](const KeywordArgs &call) {
                     call.self.attr("set_vars")(call["var_name"],
                                                driver_of(call).attr("current_url"));
                 }});
}

} // namespace

// click, input, save_text and save_attr: the element keywords browsers and apps share.
void add_element_keywords(py::module_ &module, py::dict ns) {
    ns["_wait_alert"] = py_helpers::static_method(
        &wait_alert, "_wait_alert", py::arg("driver"),
        "Wait condition: the driver's open dialog (switch_to.alert), or False while none is open.");
    add_keyword(module, ns,
                {.name = "click",
                 .title = "点击元素",
                 .summary = "点击指定的元素，自动等待元素可交互， 也可以选择强制点击",
                 .params = {{"locator", Kind::locator},
                            {"force", Kind::truth, "是否强制点击，默认为False",
                             py::object(module.attr("DEFAULT_FORCE_CLICK"))}},
                 .body = click});
    add_keyword(module, ns,
                {.name = "input",
                 .title = "输入内容",
                 .summary = "在指定元素内容输入内容，自动等待元素可交互，",
                 .params = {{"locator", Kind::locator},
                            {"content", Kind::text, "要输入的内容，支持变量引用"},
                            {"clear", Kind::truth, "清除原有内容，默认为True", true}},
                 .body = input});
    add_keyword(module, ns,
                {.name = "save_text",
                 .title = "保存[文本]",
                 .summary = "保存页面上text内容",
                 .params = {{"locator", Kind::locator},
                            {"var_name", Kind::var_name, "要保存的变量名"},
                            {"allow_empty", Kind::truth, "是否允许为空，默认为Ture", true}},
                 .body = save_text,
                 .doc_order = {"var_name", "locator", "allow_empty"}});
    add_keyword(module, ns,
                {.name = "save_attr",
                 .title = "保存[元素属性]",
                 .summary = "保存元素属性",
                 .params = {{"locator", Kind::locator},
                            {"var_name", Kind::var_name, "要保存的变量名"},
                            {"attr_name", Kind::text, "属性名"}},
                 .body = save_attr,
                 .doc_order = {"var_name", "locator", "attr_name"}});
}

void add_session_keywords(py::module_ &module, py::dict ns) {
    py::object actlib = module;
    // Sessions started by new_driver for this object, quit by close_drivers().
    ns["_own_drivers"] = py::none();
    ns["close_drivers"] = py_helpers::method(
        &close_drivers, "close_drivers", py::arg("self"),
        "Quits every session new_driver started for this object (the workbook runner calls "
        "it when the case ends); sessions of fixtures are left to their fixtures.");
    add_keyword(module, ns,
                {.name = "new_driver",
                 .title = "启动新设备",
                 .summary = "启动新driver，注意：用例执行时，请确保已经启动了driver",
                 .params = {{"browser", Kind::any, "设备类型，如： chrome、firefox、android、ios",
                             py::object(actlib.attr("DEFAULT_BROWSER"))},
                            {"hub", Kind::text, "hub地址，如果使用grid或appiu可以输入hub地址",
                             py::object(actlib.attr("DEFAULT_HUB"))},
                            // JSON text, parsed by new_driver itself (a non-text value is
                            // refused there)
                            {"capabilities", Kind::text, "如果使用grid可以传递参数，默认为空", ""}},
                 .body = new_driver});
}

py::object define_web_keyword(py::module_ &module, py::object base_keyword) {
    py::dict ns;
    add_session_keywords(module, ns);
    add_element_keywords(module, ns);
    add_check_keywords(module, ns);
    add_page_wait_keywords(module, ns);
    add_page_keywords(module, ns);
    add_frame_and_value_keywords(module, ns);
    add_screen_keywords(module, ns);
    add_form_keywords(module, ns);
    add_pointer_and_key_keywords(module, ns);
    add_window_keywords(module, ns);
    return py_helpers::make_class(module, "WebKeyWord", py::make_tuple(base_keyword), ns,
                                  "Keyword library for browser tests over WebDriver.");
}

} // namespace lumox::actlib

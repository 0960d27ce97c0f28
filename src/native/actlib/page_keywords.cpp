#include "page_keywords.hpp"

#include "driver_session.hpp"
#include "shared.hpp"

#include "native/common/errors.hpp"
#include "native/common/http_attachments.hpp"
#include "native/common/keyword.hpp"
#include "native/common/truthy.hpp"

#include <string>

namespace lumox::actlib {

namespace {

using py_helpers::add_keyword;
using py_helpers::KeywordArgs;
using py_helpers::to_str;
using Kind = py_helpers::ParamKind;

void save_value(const KeywordArgs &call, py::handle value) {
    call.self.attr("set_vars")(call["var_name"], value);
}

// {"x": .., "y": .., "width": .., "height": ..}: the rectangle as WebDriver gives it.
void save_rect(const KeywordArgs &call) {
    py::object rect = on_fresh_element([&] { return find(call, call["locator"]); },
                                       [](py::object element) { return element.attr("rect"); });
    actlib_log().info("元素位置: locator=" + to_str(call["locator"]) + ", rect=" + to_str(rect));
    save_value(call, rect);
}

void save_count(const KeywordArgs &call) {
    // No wait: none is a count too (wait_visible first when the elements come later).
    const auto count = matches_now(call, call["locator"]).elements.size();
    actlib_log().info("元素数量: locator=" + to_str(call["locator"]) +
                      ", count=" + std::to_string(count));
    save_value(call, py::int_(count));
}

// The PNG of the page, or of the element when a locator is given; attached to the row's
// report step as "screenshot", and written to `file` when one is named.
void screenshot(const KeywordArgs &call) {
    py::object locator = call["locator"];
    py::object png;
    if (py_helpers::truthy(locator)) {
        png =
            on_fresh_element([&] { return find(call, locator); },
                             [](py::object element) { return element.attr("screenshot_as_png"); });
    } else {
        png = driver_of(call).attr("get_screenshot_as_png")();
    }
    py::object file = call["file"];
    if (py_helpers::truthy(file)) {
        py::object path = py::module_::import("pathlib").attr("Path")(file);
        path.attr("parent").attr("mkdir")(py::arg("parents") = true, py::arg("exist_ok") = true);
        path.attr("write_bytes")(png);
    }
    actlib_log().info("截图: locator=" + to_str(locator) + ", file=" + to_str(file) +
                      ", bytes=" + std::to_string(py::len(png)));
    if (py_helpers::report_is_recording()) {
        py::module_ allure = py::module_::import("allure");
        allure.attr("attach")(png, py::arg("name") = "screenshot",
                              py::arg("attachment_type") =
                                  allure.attr("attachment_type").attr("PNG"));
    }
}

} // namespace

void add_screen_keywords(py::module_ &module, py::dict ns) {
    const py_helpers::KeywordParam var_name{"var_name", Kind::var_name, "要保存的变量名"};
    add_keyword(module, ns,
                {.name = "back",
                 .title = "后退",
                 .summary = "返回上一页（浏览器的后退；App中为返回键）",
                 .params = {},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("后退");
                     driver_of(call).attr("back")();
                 }});
    add_keyword(module, ns,
                {.name = "save_source",
                 .title = "保存[页面源码]",
                 .summary = "保存当前页面的源码（App中为元素树的XML）",
                 .params = {var_name},
                 .body = [](const KeywordArgs &call) {
                     save_value(call, driver_of(call).attr("page_source"));
                 }});
    add_keyword(module, ns,
                {.name = "save_count",
                 .title = "保存[元素数量]",
                 .summary = "保存定位器此刻匹配的元素数量（不等待，没有匹配时为0）",
                 .params = {{"locator", Kind::locator}, var_name},
                 .body = save_count});
    add_keyword(module, ns,
                {.name = "save_rect",
                 .title = "保存[元素位置]",
                 .summary = "保存元素的位置和大小：{\"x\", \"y\", \"width\", \"height\"}",
                 .params = {{"locator", Kind::locator}, var_name},
                 .body = save_rect});
    add_keyword(module, ns,
                {.name = "save_window_size",
                 .title = "保存[窗口大小]",
                 .summary = "保存窗口（App中为屏幕）的大小：{\"width\", \"height\"}",
                 .params = {var_name},
                 .body = [](const KeywordArgs &call) {
                     save_value(call, driver_of(call).attr("get_window_size")());
                 }});
    add_keyword(
        module, ns,
        {.name = "screenshot",
         .title = "截图",
         .summary = "截取页面或指定元素的图片，附加到测试报告",
         .params = {{"locator", Kind::locator,
                     "元素的定位器字符串（可选，默认截取整个页面），具体格式请参考关键字：show",
                     ""},
                    {"file", Kind::file_path, "同时保存到的文件路径（可选）", ""}},
         .body = screenshot});
}

} // namespace lumox::actlib

#include "check_keywords.hpp"

#include "driver_session.hpp"
#include "shared.hpp"

#include "native/actlib_utils/page_scripts.hpp"
#include "native/common/errors.hpp"
#include "native/common/keyword.hpp"
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
using py_helpers::truthy;

constexpr const char *kTimeoutDoc = "最长等待的秒数，默认为lumox_ui.wait_max";

// The row's `timeout` in seconds: lumox_ui.wait_max when the cell is empty.
double row_timeout(const KeywordArgs &call) {
    py::object value = call["timeout"];
    return value.is_none() ? wait_seconds() : value.cast<double>();
}

// The element the locator names as the page is now, or None.
py::object element_now(const KeywordArgs &call, py::handle locator) {
    const Matches found = matches_now(call, locator);
    const auto index = found.locator.attr("index").cast<std::size_t>();
    return found.elements.size() > index ? py::object(found.elements[index])
                                         : py::object(py::none());
}

// Whether the element shows: the page script first, WebDriver's displayedness when the
// script says hidden (as the element keywords decide); in apps the server's word.
bool shown(py::handle driver, py::handle element) {
    if (is_app_session(driver)) {
        return truthy(element.attr("is_displayed")());
    }
    static const std::string script =
        actlib_utils::page_scripts::with_helpers("return lumox.shown(arguments[0]);");
    return truthy(driver.attr("execute_script")(script, element)) ||
           truthy(element.attr("is_displayed")());
}

// Asks `holds` every lumox_ui.wait_poll seconds until it is true (true) or `seconds` have
// passed (false). An element the page replaced meanwhile counts as "not yet".
template <typename F>
bool holds_within(double seconds, F holds) {
    const double give_up = monotonic_seconds() + seconds;
    for (;;) {
        try {
            if (holds()) {
                return true;
            }
        } catch (py::error_already_set &error) {
            if (!element_went_away(error)) {
                throw;
            }
        }
        if (monotonic_seconds() >= give_up) {
            return false;
        }
        pause_one_poll();
    }
}

std::string named(const KeywordArgs &call) { return "element " + to_str(call["locator"]); }

std::string text_of(py::handle element) { return to_str(element.attr("text")); }

// A wait of one row: logs `announce` with the row's timeout, then asks `holds` until it is
// true; when the time is up, fails with TimeoutException and failure(seconds as text).
template <typename Holds, typename Failure>
void wait_for(const KeywordArgs &call, const std::string &announce, Holds holds, Failure failure) {
    const double seconds = row_timeout(call);
    actlib_log().info(announce + ", timeout=" + seconds_text(seconds));
    if (!holds_within(seconds, holds)) {
        raise_error(py::module_::import("selenium.common.exceptions").attr("TimeoutException"),
                    failure(seconds_text(seconds)));
    }
}

[[noreturn]] void check_failed(const std::string &message) {
    raise_error(PyExc_AssertionError, message);
}

// ---- waits -------------------------------------------------------------------------------

void wait_visible(const KeywordArgs &call) {
    py::object driver = driver_of(call);
    py::object locator = call["locator"];
    wait_for(
        call, "等待元素可见: locator=" + to_str(locator),
        [&] {
            py::object element = element_now(call, locator);
            return !element.is_none() && shown(driver, element);
        },
        [&](const std::string &seconds) {
            return named(call) + " did not show within " + seconds + " s";
        });
}

void wait_not_visible(const KeywordArgs &call) {
    py::object driver = driver_of(call);
    py::object locator = call["locator"];
    wait_for(
        call, "等待元素不可见: locator=" + to_str(locator),
        [&] {
            py::object element = element_now(call, locator);
            return element.is_none() || !shown(driver, element);
        },
        [&](const std::string &seconds) {
            return named(call) + " still shows after " + seconds + " s";
        });
}

void wait_gone(const KeywordArgs &call) {
    py::object locator = call["locator"];
    wait_for(
        call, "等待元素消失: locator=" + to_str(locator),
        [&] { return element_now(call, locator).is_none(); },
        [&](const std::string &seconds) {
            return named(call) + " is still on the page after " + seconds + " s (shown or not)";
        });
}

void wait_text(const KeywordArgs &call) {
    py::object locator = call["locator"];
    const std::string wanted = to_str(py::str(call["text"]));
    std::string last = "(no such element)";
    wait_for(
        call, "等待元素文本: locator=" + to_str(locator) + ", text=" + wanted,
        [&] {
            py::object element = element_now(call, locator);
            if (element.is_none()) {
                return false;
            }
            const std::string text = text_of(element); // one round trip a poll
            last = to_repr(py::str(text));
            return text.find(wanted) != std::string::npos;
        },
        [&](const std::string &seconds) {
            return named(call) + " did not contain " + to_repr(py::str(wanted)) + " within " +
                   seconds + " s; its text: " + last;
        });
}

// ---- checks, at once ---------------------------------------------------------------------------

void should_be_visible(const KeywordArgs &call) {
    py::object element = find(call, call["locator"]);
    if (!shown(driver_of(call), element)) {
        check_failed(named(call) + " is on the page but does not show");
    }
}

void should_not_be_visible(const KeywordArgs &call) {
    py::object element = element_now(call, call["locator"]);
    if (!element.is_none() && shown(driver_of(call), element)) {
        check_failed(named(call) + " shows; expected it hidden or absent");
    }
}

void should_be_enabled(const KeywordArgs &call) {
    py::object element = find(call, call["locator"]);
    if (!truthy(element.attr("is_enabled")())) {
        check_failed(named(call) + " is disabled");
    }
}

void should_contain(const KeywordArgs &call) {
    const std::string wanted = to_str(py::str(call["text"]));
    const std::string text = text_of(find(call, call["locator"]));
    if (text.find(wanted) == std::string::npos) {
        check_failed(named(call) + " does not contain " + to_repr(py::str(wanted)) +
                     "; its text: " + to_repr(py::str(text)));
    }
}

void should_have_value(const KeywordArgs &call) {
    py::object element = find(call, call["locator"]);
    // A field's value in a browser; in apps what the field holds is its text.
    py::object value = is_app_session(driver_of(call)) ? element.attr("text")
                                                       : element.attr("get_attribute")("value");
    const std::string wanted = to_str(py::str(call["value"]));
    if (value.is_none() || to_str(value) != wanted) {
        check_failed(named(call) + " has the value " + to_repr(value) + ", not " +
                     to_repr(py::str(wanted)));
    }
}

void should_not_exist(const KeywordArgs &call) {
    const Matches found = matches_now(call, call["locator"]);
    const std::size_t count = found.elements.size();
    if (count > found.locator.attr("index").cast<std::size_t>()) {
        check_failed(named(call) + " exists (" + std::to_string(count) +
                     (count == 1 ? " match" : " matches") + " of " + to_str(found.locator) + ")");
    }
}

// ---- the page ------------------------------------------------------------------------------------

// wait_url and wait_title: `read` gives the page's value, `mode` is contains or equal.
template <typename Read>
void wait_page_value(const KeywordArgs &call, const char *keyword, const char *what, Read read) {
    const std::string wanted = to_str(py::str(call["text"]));
    const std::string mode = to_str(py::str(call["mode"]));
    if (mode != "contains" && mode != "equal") {
        raise_error(PyExc_ValueError, std::string(keyword) +
                                          ": mode must be contains or equal, "
                                          "not " +
                                          to_repr(call["mode"]));
    }
    std::string last;
    wait_for(
        call, std::string("等待页面") + what + ": " + mode + " " + wanted,
        [&] {
            last = read();
            return mode == "equal" ? last == wanted : last.find(wanted) != std::string::npos;
        },
        [&](const std::string &seconds) {
            return std::string("the page's ") + what + " did not " +
                   (mode == "equal" ? "become " : "contain ") + to_repr(py::str(wanted)) +
                   " within " + seconds + " s; it is " + to_repr(py::str(last));
        });
}

} // namespace

void add_check_keywords(py::module_ &module, py::dict ns) {
    const py::object none = py::none();
    const KeywordParam locator{"locator", Kind::locator};
    const KeywordParam timeout{"timeout", Kind::seconds, kTimeoutDoc, none};
    const KeywordParam text{"text", Kind::text, "要包含的文本，支持变量引用"};
    add_keyword(module, ns,
                {.name = "wait_visible",
                 .title = "等待元素可见",
                 .summary = "等待元素出现并可见",
                 .params = {locator, timeout},
                 .body = wait_visible});
    add_keyword(module, ns,
                {.name = "wait_not_visible",
                 .title = "等待元素不可见",
                 .summary = "等待元素隐藏或消失",
                 .params = {locator, timeout},
                 .body = wait_not_visible});
    add_keyword(module, ns,
                {.name = "wait_gone",
                 .title = "等待元素消失",
                 .summary = "等待元素从页面上移除",
                 .params = {locator, timeout},
                 .body = wait_gone});
    add_keyword(module, ns,
                {.name = "wait_text",
                 .title = "等待元素文本",
                 .summary = "等待元素的文本包含指定内容",
                 .params = {locator, text, timeout},
                 .body = wait_text});
    add_keyword(module, ns,
                {.name = "should_be_visible",
                 .title = "检查元素可见",
                 .summary = "检查元素可见，否则用例失败",
                 .params = {locator},
                 .body = should_be_visible});
    add_keyword(module, ns,
                {.name = "should_not_be_visible",
                 .title = "检查元素不可见",
                 .summary = "检查元素此刻隐藏或不存在，否则用例失败（不等待）",
                 .params = {locator},
                 .body = should_not_be_visible});
    add_keyword(module, ns,
                {.name = "should_be_enabled",
                 .title = "检查元素可用",
                 .summary = "检查元素可用（未禁用），否则用例失败",
                 .params = {locator},
                 .body = should_be_enabled});
    add_keyword(module, ns,
                {.name = "should_contain",
                 .title = "检查元素文本",
                 .summary = "检查元素的文本包含指定内容，否则用例失败",
                 .params = {locator, text},
                 .body = should_contain});
    add_keyword(module, ns,
                {.name = "should_have_value",
                 .title = "检查输入框的值",
                 .summary = "检查输入框的值等于指定内容，否则用例失败",
                 .params = {locator, {"value", Kind::text, "预期的值，支持变量引用"}},
                 .body = should_have_value});
    add_keyword(module, ns,
                {.name = "should_not_exist",
                 .title = "检查元素不存在",
                 .summary = "检查元素此刻不在页面上，否则用例失败（不等待）",
                 .params = {locator},
                 .body = should_not_exist});
}

void add_page_wait_keywords(py::module_ &module, py::dict ns) {
    const std::vector<KeywordParam> params = {
        {"text", Kind::text, "预期的内容，支持变量引用"},
        {"mode", Kind::text, "contains（包含，默认）或 equal（等于）", "contains"},
        {"timeout", Kind::seconds, kTimeoutDoc, py::none()}};
    add_keyword(module, ns,
                {.name = "wait_url",
                 .title = "等待网址",
                 .summary = "等待当前网址包含或等于指定内容",
                 .params = params,
                 .body = [](const KeywordArgs &call) {
                     wait_page_value(call, "wait_url", "网址",
                                     [&] { return to_str(driver_of(call).attr("current_url")); });
                 }});
    add_keyword(module, ns,
                {.name = "wait_title",
                 .title = "等待标题",
                 .summary = "等待页面标题包含或等于指定内容",
                 .params = params,
                 .body = [](const KeywordArgs &call) {
                     wait_page_value(call, "wait_title", "标题",
                                     [&] { return to_str(driver_of(call).attr("title")); });
                 }});
}

} // namespace lumox::actlib

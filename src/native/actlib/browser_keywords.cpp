#include "browser_keywords.hpp"

#include "driver_session.hpp"
#include "shared.hpp"

#include "core/ascii_text.hpp"

#include "native/common/errors.hpp"
#include "native/common/keyword.hpp"
#include "native/common/truthy.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace lumox::actlib {

namespace {

using py_helpers::add_keyword;
using py_helpers::KeywordArgs;
using py_helpers::raise_error;
using py_helpers::to_repr;
using py_helpers::to_str;
using py_helpers::truthy;
using Kind = py_helpers::ParamKind;

py::object chain_for(py::handle driver) {
    return py::module_::import("lumox.actlib_utils").attr("MyActionChains")(driver);
}

std::string element_named(const KeywordArgs &call) { return "element " + to_str(call["locator"]); }

// ---- forms -------------------------------------------------------------------------------

// Selects an option of a native <select> in one request, as a tester would (input and change
// events, nothing when it is already selected); answers what it chose or why it could not.
constexpr const char *kSelectScript = R"JS(
var select = arguments[0], wanted = String(arguments[1]), by = arguments[2];
if (select.localName !== 'select') return {error: 'is a <' + select.localName + '>, not a <select>'};
var options = Array.prototype.slice.call(select.options), option = null;
var trim = function (text) { return text.replace(/\s+/g, ' ').trim(); };
if (by === 'index') option = /^\s*\d+\s*$/.test(wanted) ? options[Number(wanted)] || null : null;
for (var i = 0; by !== 'index' && i < options.length && !option; i++) {
  if (by === 'value' ? options[i].value === wanted : trim(options[i].text) === trim(wanted)) option = options[i];
}
var labels = options.map(function (o) { return trim(o.text) + ' (' + o.value + ')'; });
if (!option) return {error: 'has no option with the ' + by + ' ' + JSON.stringify(wanted), options: labels};
if (option.disabled) return {error: 'has the option ' + JSON.stringify(trim(option.text)) + ' disabled', options: labels};
if (!option.selected) {
  option.selected = true;
  select.dispatchEvent(new Event('input', {bubbles: true}));
  select.dispatchEvent(new Event('change', {bubbles: true}));
}
return {label: trim(option.text), value: option.value, index: option.index};
)JS";

constexpr const char *kSelectedScript = R"JS(
var select = arguments[0];
if (select.localName !== 'select') return {error: 'is a <' + select.localName + '>, not a <select>'};
var chosen = Array.prototype.filter.call(select.options, function (o) { return o.selected; });
return {multiple: select.multiple, chosen: chosen.map(function (o) {
  return {label: o.text.replace(/\s+/g, ' ').trim(), value: o.value, index: o.index}; })};
)JS";

[[noreturn]] void select_failed(const KeywordArgs &call, const char *keyword, py::handle answer) {
    std::string message =
        std::string(keyword) + ": " + element_named(call) + " " + to_str(answer["error"]);
    if (answer.contains("options")) {
        message += "; its options: " + to_str(py::str(", ").attr("join")(answer["options"]));
    }
    raise_error(PyExc_AssertionError, message);
}

void select_option(const KeywordArgs &call) {
    const std::string by = one_of(call, "select_option", "by", {"label", "value", "index"});
    actlib_log().info("选择下拉选项: locator=" + to_str(call["locator"]) + ", " + by + "=" +
                      to_str(call["option"]));
    py::object answer;
    act_on_ready(call, "元素就绪，准备选择... ele.id=", [&](py::object element) {
        answer = driver_of(call).attr("execute_script")(kSelectScript, element, call["option"], by);
    });
    if (answer.contains("error")) {
        select_failed(call, "select_option", answer);
    }
    actlib_log().info("选中选项： [" + to_str(answer["label"]) + ": " + to_str(answer["value"]) +
                      "]");
}

void save_selected(const KeywordArgs &call) {
    const std::string by = one_of(call, "save_selected", "by", {"label", "value", "index"});
    py::object answer = on_fresh_element([&] { return find(call, call["locator"]); },
                                         [&](py::object element) {
                                             return driver_of(call).attr("execute_script")(
                                                 kSelectedScript, element);
                                         });
    if (answer.contains("error")) {
        select_failed(call, "save_selected", answer);
    }
    py::list values;
    for (py::handle option : answer["chosen"]) {
        values.append(option[py::str(by)]);
    }
    // One value for a single select, the list of them for a multiple one.
    py::object saved = truthy(answer["multiple"]) ? py::object(values)
                       : values.empty()           ? py::object(py::none())
                                                  : py::object(values[0]);
    call.self.attr("set_vars")(call["var_name"], saved);
}

// check and uncheck: clicks the box only when it is not in the state yet, then makes sure
// the page let it change (a script may refuse the click).
void set_checked(const KeywordArgs &call, bool wanted, const char *keyword) {
    actlib_log().info(std::string(wanted ? "勾选" : "取消勾选") +
                      ": locator=" + to_str(call["locator"]));
    act_on_ready(call, "元素就绪，准备点击... ele.id=", [&](py::object element) {
        if (truthy(element.attr("is_selected")()) == wanted) {
            return;
        }
        if (!wanted && to_str(py::str(element.attr("get_attribute")("type"))) == "radio") {
            raise_error(PyExc_AssertionError, "uncheck: " + element_named(call) +
                                                  " is a radio button: it is "
                                                  "unchecked by checking another of its group");
        }
        element.attr("click")();
        if (truthy(element.attr("is_selected")()) != wanted) {
            raise_error(PyExc_AssertionError, std::string(keyword) + ": " + element_named(call) +
                                                  " was clicked but is still " +
                                                  (wanted ? "unchecked" : "checked"));
        }
    });
}

// A file for an <input type=file>. Sent through the session, so a browser on a hub gets
// the file's content and not a path on the tester's machine.
void choose_file(const KeywordArgs &call) {
    py::module_ os_path = py::module_::import("os.path");
    py::object path = os_path.attr("abspath")(call["file"]);
    if (!truthy(os_path.attr("isfile")(path))) {
        raise_error(PyExc_FileNotFoundError,
                    "choose_file: no file " + to_repr(path) + " (file " + to_repr(call["file"]) +
                        ", relative to " + to_repr(py::module_::import("os").attr("getcwd")()) +
                        ")");
    }
    actlib_log().info("选择文件: locator=" + to_str(call["locator"]) + ", file=" + to_str(path));
    py::object driver = driver_of(call);
    py::object element = find(call, call["locator"]); // file inputs are often hidden
    py::object detector =
        py::module_::import("selenium.webdriver.remote.file_detector").attr("LocalFileDetector");
    // file_detector_context restores the session's own detector afterwards.
    py::object context = driver.attr("file_detector_context")(detector);
    context.attr("__enter__")();
    try {
        element.attr("send_keys")(path);
    } catch (py::error_already_set &) {
        context.attr("__exit__")(py::none(), py::none(), py::none());
        throw;
    }
    context.attr("__exit__")(py::none(), py::none(), py::none());
}

// ---- mouse and keys -------------------------------------------------------------------------

// Runs `build(chain, element)` on a fresh action chain once the row's element is usable, and
// sends it.
template <typename Build>
void pointer_action(const KeywordArgs &call, const std::string &announce, Build build) {
    actlib_log().info(announce + ": locator=" + to_str(call["locator"]));
    act_on_ready(call, "元素就绪，准备操作... ele.id=", [&](py::object element) {
        py::object chain = chain_for(driver_of(call));
        build(chain, element);
        chain.attr("perform")();
    });
}

py::int_ pixels(const KeywordArgs &call, const char *name) {
    // Far beyond any screen, and within what a long long holds.
    const double value = std::clamp(call[name].cast<double>(), -1e9, 1e9);
    return py::int_(static_cast<long long>(value));
}

// The name of selenium's Keys member for a key a tester writes ("Enter", "ctrl", "PageUp"),
// or "" when the word is no key name.
std::string key_member(const std::string &written) {
    static const std::vector<std::pair<const char *, const char *>> names = {
        {"enter", "ENTER"},       {"return", "RETURN"},      {"tab", "TAB"},
        {"esc", "ESCAPE"},        {"escape", "ESCAPE"},      {"backspace", "BACKSPACE"},
        {"delete", "DELETE"},     {"del", "DELETE"},         {"space", "SPACE"},
        {"up", "ARROW_UP"},       {"down", "ARROW_DOWN"},    {"left", "ARROW_LEFT"},
        {"right", "ARROW_RIGHT"}, {"home", "HOME"},          {"end", "END"},
        {"pageup", "PAGE_UP"},    {"pagedown", "PAGE_DOWN"}, {"insert", "INSERT"},
        {"ctrl", "CONTROL"},      {"control", "CONTROL"},    {"shift", "SHIFT"},
        {"alt", "ALT"},           {"meta", "META"},          {"cmd", "COMMAND"},
        {"command", "COMMAND"},   {"win", "META"},
    };
    const std::string word = core::lower_ascii(written);
    for (const auto &[name, member] : names) {
        if (word == name) {
            return member;
        }
    }
    if (word.size() >= 2 && word.size() <= 3 && word[0] == 'f' &&
        std::all_of(word.begin() + 1, word.end(),
                    [](unsigned char c) { return std::isdigit(c) != 0; })) {
        const int number = std::stoi(word.substr(1));
        if (number >= 1 && number <= 12) {
            return "F" + std::to_string(number);
        }
    }
    return "";
}

bool is_modifier(const std::string &member) {
    return member == "CONTROL" || member == "SHIFT" || member == "ALT" || member == "META" ||
           member == "COMMAND";
}

// One step of a key row: text typed as it stands, or keys held together (modifiers first).
struct KeyStep {
    std::string text;              // typed characters, when keys is empty
    std::vector<std::string> held; // the modifiers' characters
    std::string key;               // the key pressed while they are held
};

// "Ctrl+A Tab \"two words\" Enter": words are split at blanks; a word naming a key is that
// key, Mod+Key a combination, a double-quoted part text with its blanks, anything else text.
std::vector<KeyStep> key_steps(const std::string &written, py::handle keys_class) {
    const auto character = [&](const std::string &member) {
        return to_str(keys_class.attr(member.c_str()));
    };
    std::vector<KeyStep> steps;
    std::size_t at = 0;
    while (at < written.size()) {
        if (std::isspace(static_cast<unsigned char>(written[at]))) {
            ++at;
            continue;
        }
        if (written[at] == '"') {
            const std::size_t end = written.find('"', at + 1);
            if (end == std::string::npos) {
                raise_error(PyExc_ValueError,
                            "press_keys: a quoted text is not closed: " + written.substr(at));
            }
            steps.push_back({written.substr(at + 1, end - at - 1), {}, ""});
            at = end + 1;
            continue;
        }
        std::size_t end = at;
        while (end < written.size() && !std::isspace(static_cast<unsigned char>(written[end]))) {
            ++end;
        }
        const std::string word = written.substr(at, end - at);
        at = end;
        // The last key of a combination follows the last "+" ("Ctrl++" presses Ctrl and +).
        const bool plus_key = word.size() > 2 && word.compare(word.size() - 2, 2, "++") == 0;
        const std::size_t plus = plus_key ? word.size() - 2 : word.rfind('+');
        std::vector<std::string> held;
        bool combination = plus != std::string::npos && plus > 0 && plus + 1 < word.size();
        for (std::size_t from = 0; combination && from < plus;) {
            const std::size_t next = std::min(word.find('+', from), plus);
            const std::string member = key_member(word.substr(from, next - from));
            combination = is_modifier(member);
            if (combination) {
                held.push_back(character(member));
            } else if (!member.empty() || std::isupper(static_cast<unsigned char>(word[from]))) {
                // Hyper+A, Enter+A: meant as a combination, with a key that holds nothing.
                raise_error(PyExc_ValueError,
                            "press_keys: " + to_repr(py::str(word.substr(from, next - from))) +
                                " in " + to_repr(py::str(word)) +
                                " is no modifier (Ctrl, Shift, Alt, Meta, Cmd)");
            }
            from = next + 1;
        }
        if (combination) {
            KeyStep step;
            step.held = held;
            const std::string last = word.substr(plus + 1);
            const std::string member = key_member(last);
            // Ctrl+A means the A key: as a lower-case letter, so Shift is not implied.
            step.key = member.empty() ? (last.size() == 1 ? core::lower_ascii(last) : last)
                                      : character(member);
            steps.push_back(step);
            continue;
        }
        const std::string member = key_member(word);
        if (member.empty()) {
            steps.push_back({word, {}, ""});
        } else {
            steps.push_back({"", {}, character(member)});
        }
    }
    return steps;
}

void press_keys(const KeywordArgs &call) {
    const std::string written = to_str(py::str(call["keys"]));
    py::object keys_class = py::module_::import("selenium.webdriver.common.keys").attr("Keys");
    const std::vector<KeyStep> steps = key_steps(written, keys_class);
    if (steps.empty()) {
        raise_error(PyExc_ValueError, "press_keys: keys is empty (write e.g. Enter, Ctrl+A or "
                                      "\"some text\" Tab)");
    }
    py::object locator = call["locator"];
    actlib_log().info("按键: locator=" + to_str(locator) + ", keys=" + written);
    if (truthy(locator)) {
        // One request: the element gets the keys, a combination ends with NULL (keys up).
        std::string sequence;
        const std::string null = to_str(keys_class.attr("NULL"));
        for (const KeyStep &step : steps) {
            if (step.held.empty()) {
                sequence += step.key.empty() ? step.text : step.key;
                continue;
            }
            for (const std::string &modifier : step.held) {
                sequence += modifier;
            }
            sequence += step.key + null;
        }
        act_on_ready(call, "元素就绪，准备按键... ele.id=", [&](py::object element) {
            element.attr("send_keys")(sequence);
        });
        return;
    }
    // The page: to whatever has the focus, as the keyboard would.
    py::object chain = chain_for(driver_of(call));
    for (const KeyStep &step : steps) {
        for (const std::string &modifier : step.held) {
            chain.attr("key_down")(modifier);
        }
        chain.attr("send_keys")(step.held.empty() && step.key.empty() ? step.text : step.key);
        for (auto modifier = step.held.rbegin(); modifier != step.held.rend(); ++modifier) {
            chain.attr("key_up")(*modifier);
        }
    }
    chain.attr("perform")();
}

// ---- windows, the page, cookies, asynchronous scripts ----------------------------------------

// The window index of a row: a whole number from 0 (a cell may hold 1 or 1.0).
long long window_index(py::handle written) {
    py::object number = py::none();
    try {
        number = py::module_::import("builtins").attr("float")(written);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) {
            throw;
        }
    }
    const double value = number.is_none() ? -1.0 : number.cast<double>();
    if (PyBool_Check(written.ptr()) || value < 0 || value > 1e6 ||
        value != static_cast<long long>(value)) {
        raise_error(PyExc_ValueError, "switch_window: window must be an index from 0 when by is "
                                      "index, not " +
                                          to_repr(written));
    }
    return static_cast<long long>(value);
}

bool window_closed(py::error_already_set &error) {
    return error.matches(
        py::module_::import("selenium.common.exceptions").attr("NoSuchWindowException"));
}

// Switches to the window whose title or address is the row's (the same text first, then one
// that contains it) or to the one at an index, trying again until lumox_ui.wait_max for a
// window that is still opening. Windows that close meanwhile are passed over; when none
// fits, the session is back on the window it was on (if that one is still open).
void switch_window(const KeywordArgs &call) {
    const std::string by = one_of(call, "switch_window", "by", {"title", "url", "index"});
    const std::string wanted = to_str(py::str(call["window"]));
    const long long index = by == "index" ? window_index(call["window"]) : -1;
    actlib_log().info("切换窗口: " + by + "=" + wanted);
    py::object driver = driver_of(call);
    py::object switch_to = driver.attr("switch_to");
    py::object original = py::none();
    try {
        original = driver.attr("current_window_handle");
    } catch (py::error_already_set &error) {
        if (!window_closed(error)) {
            throw;
        }
    }
    std::string seen;
    const double give_up = monotonic_seconds() + wait_seconds();
    for (;;) {
        py::list handles(driver.attr("window_handles"));
        if (by == "index") {
            if (index < static_cast<long long>(handles.size())) {
                switch_to.attr("window")(handles[static_cast<std::size_t>(index)]);
                return;
            }
            seen = std::to_string(handles.size()) + " window(s)";
        } else {
            py::object containing = py::none();
            seen.clear();
            for (py::handle handle : handles) {
                std::string value;
                try {
                    switch_to.attr("window")(handle);
                    value =
                        to_str(by == "title" ? driver.attr("title") : driver.attr("current_url"));
                } catch (py::error_already_set &error) {
                    if (!window_closed(error)) {
                        throw;
                    }
                    continue; // closed since the list was read
                }
                seen += (seen.empty() ? "" : ", ") + to_repr(py::str(value));
                if (value == wanted) {
                    return;
                }
                if (containing.is_none() && value.find(wanted) != std::string::npos) {
                    containing = py::reinterpret_borrow<py::object>(handle);
                }
            }
            try {
                if (!containing.is_none()) {
                    switch_to.attr("window")(containing);
                    return;
                }
                if (!original.is_none()) {
                    switch_to.attr("window")(original);
                }
            } catch (py::error_already_set &error) {
                if (!window_closed(error)) {
                    throw;
                }
            }
        }
        if (monotonic_seconds() >= give_up) {
            raise_error(PyExc_AssertionError,
                        "switch_window: no window with the " + by + " " + to_repr(py::str(wanted)) +
                            " after " + seconds_text(wait_seconds()) + " s; the windows: " + seen);
        }
        pause_one_poll();
    }
}

void new_window(const KeywordArgs &call) {
    const std::string kind = one_of(call, "new_window", "kind", {"tab", "window"});
    actlib_log().info("打开新窗口: kind=" + kind + ", url=" + to_str(call["url"]));
    py::object driver = driver_of(call);
    driver.attr("switch_to").attr("new_window")(kind);
    if (truthy(call["url"])) {
        driver.attr("get")(page_url(py::str(call["url"])));
    }
}

void close_window(const KeywordArgs &call) {
    py::object driver = driver_of(call);
    actlib_log().info("关闭窗口: " + to_str(driver.attr("title")));
    // The close answers with the handles left: asking again after the last window went
    // would fail, as the browser ends the session with it.
    py::list left(driver.attr("execute")("close")["value"]);
    if (left.empty()) {
        actlib_log().info("最后一个窗口已关闭");
        return;
    }
    driver.attr("switch_to").attr("window")(left[left.size() - 1]);
}

void save_browser_cookie(const KeywordArgs &call) {
    py::object driver = driver_of(call);
    py::object cookie = driver.attr("get_cookie")(call["name"]);
    if (cookie.is_none()) {
        py::list names;
        for (py::handle each : driver.attr("get_cookies")()) {
            names.append(each["name"]);
        }
        raise_error(PyExc_AssertionError,
                    "save_browser_cookie: the page has no cookie " + to_repr(call["name"]) +
                        "; its cookies: " +
                        (names.empty() ? std::string("(none)")
                                       : to_str(py::str(", ").attr("join")(names))));
    }
    call.self.attr("set_vars")(call["var_name"], cookie["value"]);
}

py::object shell_async(const KeywordArgs &call) {
    py::object result =
        driver_of(call).attr("execute_async_script")(call["scrip"], call["scrip_args"]);
    actlib_log().info("命令执行结果:res=" + to_str(result));
    return result;
}

} // namespace

void add_form_keywords(py::module_ &module, py::dict ns) {
    const py_helpers::KeywordParam locator{"locator", Kind::locator};
    add_keyword(
        module, ns,
        {.name = "select_option",
         .title = "选择下拉选项",
         .summary = "在原生下拉框（select）中选择一个选项，自动等待元素可交互；"
                    "多选下拉框中在已选选项之外再选中它",
         .params = {locator,
                    {"option", Kind::text, "选项的文字、值或序号，支持变量引用"},
                    {"by", Kind::text,
                     "label（按文字，默认）、value（按值）或 index（按序号，从 0 开始）", "label"}},
         .body = select_option});
    add_keyword(module, ns,
                {.name = "save_selected",
                 .title = "保存[已选选项]",
                 .summary = "保存下拉框已选中的选项（多选下拉框保存列表）",
                 .params = {locator,
                            {"var_name", Kind::var_name, "要保存的变量名"},
                            {"by", Kind::text, "label（文字，默认）、value（值）或 index（序号）",
                             "label"}},
                 .body = save_selected});
    add_keyword(module, ns,
                {.name = "check",
                 .title = "勾选",
                 .summary = "勾选复选框或单选按钮；已勾选时不再点击",
                 .params = {locator},
                 .body = [](const KeywordArgs &call) { set_checked(call, true, "check"); }});
    add_keyword(module, ns,
                {.name = "uncheck",
                 .title = "取消勾选",
                 .summary = "取消勾选复选框；未勾选时不再点击",
                 .params = {locator},
                 .body = [](const KeywordArgs &call) { set_checked(call, false, "uncheck"); }});
    add_keyword(module, ns,
                {.name = "choose_file",
                 .title = "选择上传文件",
                 .summary = "为文件输入框（input type=file）选择文件，远程浏览器（grid）也可以",
                 .params = {locator, {"file", Kind::file_path, "要上传的文件路径"}},
                 .body = choose_file});
}

void add_pointer_and_key_keywords(py::module_ &module, py::dict ns) {
    const py_helpers::KeywordParam locator{"locator", Kind::locator};
    add_keyword(module, ns,
                {.name = "double_click",
                 .title = "双击元素",
                 .summary = "双击指定的元素，自动等待元素可交互",
                 .params = {locator},
                 .body = [](const KeywordArgs &call) {
                     pointer_action(call, "双击", [](py::object chain, py::object element) {
                         chain.attr("double_click")(element);
                     });
                 }});
    add_keyword(module, ns,
                {.name = "right_click",
                 .title = "右击元素",
                 .summary = "右击指定的元素（打开右键菜单），自动等待元素可交互",
                 .params = {locator},
                 .body = [](const KeywordArgs &call) {
                     pointer_action(call, "右击", [](py::object chain, py::object element) {
                         chain.attr("context_click")(element);
                     });
                 }});
    add_keyword(module, ns,
                {.name = "click_at",
                 .title = "点击元素的指定位置",
                 .summary = "点击元素中心偏移 x, y 像素的位置",
                 .params = {locator,
                            {"x", Kind::number, "相对元素中心的水平偏移像素，向右为正"},
                            {"y", Kind::number, "相对元素中心的垂直偏移像素，向下为正"}},
                 .body = [](const KeywordArgs &call) {
                     pointer_action(call, "点击指定位置",
                                    [&](py::object chain, py::object element) {
                                        chain.attr("move_to_element_with_offset")(
                                            element, pixels(call, "x"), pixels(call, "y"));
                                        chain.attr("click")();
                                    });
                 }});
    add_keyword(module, ns,
                {.name = "drag_to",
                 .title = "拖放到元素",
                 .summary = "按住元素，拖到另一个元素上松开",
                 .params = {locator,
                            {"target", Kind::locator,
                             "放置目标的定位器字符串，具体格式请参考关键字：show"}},
                 .body = [](const KeywordArgs &call) {
                     pointer_action(call, "拖放", [&](py::object chain, py::object element) {
                         py::object target = find(call, call["target"]);
                         chain.attr("click_and_hold")(element);
                         chain.attr("move_to_element")(target);
                         chain.attr("release")();
                     });
                 }});
    add_keyword(module, ns,
                {.name = "drag_by",
                 .title = "拖动元素",
                 .summary = "按住元素，移动 x, y 像素后松开",
                 .params = {locator,
                            {"x", Kind::number, "水平移动的像素，向右为正"},
                            {"y", Kind::number, "垂直移动的像素，向下为正"}},
                 .body = [](const KeywordArgs &call) {
                     pointer_action(call, "拖动", [&](py::object chain, py::object element) {
                         chain.attr("click_and_hold")(element);
                         chain.attr("move_by_offset")(pixels(call, "x"), pixels(call, "y"));
                         chain.attr("release")();
                     });
                 }});
    add_keyword(
        module, ns,
        {.name = "press_keys",
         .title = "按键",
         .summary = "向元素（定位器为空时向页面当前焦点）按键：按键名（Enter、Tab、Esc、"
                    "Backspace、Delete、Space、Up、Down、Left、Right、Home、End、PageUp、"
                    "PageDown、F1-F12）、组合键（Ctrl+A、Shift+Tab、Ctrl+Shift+K），"
                    "其他文字原样输入，带空格的文字写在双引号中",
         .params = {{"locator", Kind::locator,
                     "元素的定位器字符串（可为空），具体格式请参考关键字：show"},
                    {"keys", Kind::text, "按键，以空格分隔，如：Ctrl+A \"new text\" Enter"}},
         .body = press_keys});
}

void add_window_keywords(py::module_ &module, py::dict ns) {
    const py_helpers::KeywordParam var_name{"var_name", Kind::var_name, "要保存的变量名"};
    add_keyword(module, ns,
                {.name = "switch_window",
                 .title = "切换窗口",
                 .summary = "切换到指定的窗口或标签页（等待新窗口打开）",
                 .params = {{"window", Kind::text,
                             "窗口的标题、网址（完全相同优先，其次包含）或序号（从 0 开始）"},
                            {"by", Kind::text,
                             "title（按标题，默认）、url（按网址）或 index（按序号）", "title"}},
                 .body = switch_window});
    add_keyword(module, ns,
                {.name = "new_window",
                 .title = "打开新窗口",
                 .summary = "打开新的标签页或窗口并切换到它",
                 .params = {{"url", Kind::text, "要打开的网址（可选）", ""},
                            {"kind", Kind::text, "tab（标签页，默认）或 window（窗口）", "tab"}},
                 .body = new_window});
    add_keyword(module, ns,
                {.name = "close_window",
                 .title = "关闭窗口",
                 .summary = "关闭当前窗口，切换到其余窗口中的最后一个",
                 .params = {},
                 .body = close_window});
    add_keyword(module, ns,
                {.name = "window_size",
                 .title = "设置窗口大小",
                 .summary = "设置浏览器窗口的大小",
                 .params = {{"width", Kind::integer, "宽度（像素）"},
                            {"height", Kind::integer, "高度（像素）"}},
                 .body = [](const KeywordArgs &call) {
                     actlib_log().info("设置窗口大小: " + to_str(call["width"]) + "x" +
                                       to_str(call["height"]));
                     driver_of(call).attr("set_window_size")(call["width"], call["height"]);
                 }});
    add_keyword(module, ns,
                {.name = "forward",
                 .title = "前进",
                 .summary = "浏览器前进到下一页",
                 .params = {},
                 .body = [](const KeywordArgs &call) { driver_of(call).attr("forward")(); }});
    add_keyword(module, ns,
                {.name = "reload",
                 .title = "刷新页面",
                 .summary = "重新加载当前页面",
                 .params = {},
                 .body = [](const KeywordArgs &call) { driver_of(call).attr("refresh")(); }});
    add_keyword(module, ns,
                {.name = "add_browser_cookie",
                 .title = "添加浏览器Cookie",
                 .summary = "为当前网站添加一个浏览器Cookie",
                 .params = {{"name", Kind::text, "Cookie名"},
                            {"value", Kind::text, "Cookie值，支持变量引用"},
                            {"path", Kind::text, "路径，默认为 /", "/"}},
                 .body = [](const KeywordArgs &call) {
                     py::dict cookie;
                     cookie["name"] = py::str(call["name"]);
                     cookie["value"] = py::str(call["value"]);
                     cookie["path"] = py::str(call["path"]);
                     driver_of(call).attr("add_cookie")(cookie);
                 }});
    add_keyword(module, ns,
                {.name = "save_browser_cookie",
                 .title = "保存[浏览器Cookie]",
                 .summary = "保存当前网站一个浏览器Cookie的值",
                 .params = {{"name", Kind::text, "Cookie名"}, var_name},
                 .body = save_browser_cookie});
    add_keyword(module, ns,
                {.name = "delete_browser_cookie",
                 .title = "删除浏览器Cookie",
                 .summary = "删除当前网站的一个浏览器Cookie（名字为空时删除全部）",
                 .params = {{"name", Kind::text, "Cookie名（可选）", ""}},
                 .body = [](const KeywordArgs &call) {
                     if (truthy(call["name"])) {
                         driver_of(call).attr("delete_cookie")(call["name"]);
                     } else {
                         driver_of(call).attr("delete_all_cookies")();
                     }
                 }});
    add_keyword(module, ns,
                {.name = "shell_async",
                 .title = "执行异步脚本",
                 .summary = "执行异步脚本：脚本结束时调用最后一个参数 "
                            "arguments[arguments.length - 1](结果)",
                 .params = {{"scrip", Kind::text, "脚本命令"},
                            {"scrip_args", Kind::json_value, "参数，支持json字符串", "null"}},
                 .body = shell_async});
}

} // namespace lumox::actlib

// BaseKeyWord: what every keyword library shares -- keyword dispatch through the
// "_key_" prefix, the keyword list and its documentation, variables, the `assert` and
// `set_driver` keywords, element finding and the interactivity test.
#include "actlib_utils.hpp"
#include "page_scripts.hpp"

#include "core/suggestions.hpp"
#include "native/common/errors.hpp"

#include "core/locator.hpp"
#include "native/common/keyword.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/secrets.hpp"
#include "native/common/step.hpp"

#include <memory>
#include <optional>
#include <string>

namespace lumox::actlib_utils {

namespace {

using py_helpers::add_keyword;
using py_helpers::in_step;
using py_helpers::KeywordArgs;
using Kind = py_helpers::ParamKind;
using py_helpers::method;
using py_helpers::to_repr;
using py_helpers::to_str;

constexpr const char *kKeyPrefix = "_key_";
constexpr const char *kMethodPrefix = "key_";

py::object builtins() { return py::module_::import("builtins"); }

py::object classmethod(py::cpp_function fn) { return builtins().attr("classmethod")(fn); }

py::dict step_params(std::initializer_list<std::pair<const char *, py::handle>> params) {
    if (!py_helpers::steps_recorded()) {
        return py::dict();
    }
    py::dict out;
    for (const auto &[name, value] : params) {
        out[name] = py_helpers::step_param(value);
    }
    return out;
}

void init_keyword(py::object self, py::object exchanger, py::object usefixtures) {
    py::object mapping = py::module_::import("collections.abc").attr("Mapping");
    if (!py::isinstance(usefixtures, mapping)) {
        raise_argument_type(to_str(py::type::handle_of(self).attr("__name__")) + "()",
                            "usefixtures", "a mapping", usefixtures);
    }
    self.attr("exchanger") = exchanger;
    self.attr("usefixtures") = usefixtures;
}

// ---- keyword list and documentation ----------------------------------------------------

py::object all_keyword(py::object cls) {
    // Only a list computed for this very class counts: a base class's list would lack
    // the keywords its subclass adds.
    py::object cached = cls.attr("__dict__").attr("get")("_all_keyword");
    if (!cached.is_none()) {
        return cached;
    }
    py::list names;
    for (py::handle name : builtins().attr("dir")(cls)) {
        const std::string text = to_str(name);
        if (text.rfind(kMethodPrefix, 0) == 0 &&
            PyCallable_Check(py::getattr(cls, name).ptr()) == 1) {
            names.append(text.substr(4));
        }
    }
    py::tuple keywords(names);
    py::setattr(cls, "_all_keyword", keywords);
    logger().info("可用关键字: " + to_repr(keywords));
    return keywords;
}

void print_key_doc(py::object cls) {
    py::print("关键字及其参数");
    py::print(std::string(20, '='));
    for (py::handle name : cls.attr("all_keyword")()) {
        py::object doc;
        try {
            doc = py::getattr(cls, (kMethodPrefix + to_str(name)).c_str())
                      .attr("__doc__")
                      .attr("strip")();
        } catch (py::error_already_set &error) {
            // A missing member or one without documentation (its __doc__ is None).
            if (!error.matches(PyExc_AttributeError)) {
                throw;
            }
            py::print("读取关键字文档出错：", name);
            continue;
        }
        py::print(doc);
        py::print(std::string(20, '-'));
    }
}

// ---- dispatch ----------------------------------------------------------------------------

// The keyword name inside an attribute name: the piece between the first and the second
// prefix ("_key_click" -> "click", "a_key_b_key_c" -> "b"), if there is a prefix at all.
std::optional<std::string> keyword_in(const std::string &name, const std::string &prefix) {
    const size_t start = prefix.empty() ? std::string::npos : name.find(prefix);
    if (start == std::string::npos) {
        return std::nullopt;
    }
    const size_t from = start + prefix.size();
    const size_t end = name.find(prefix, from);
    return name.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

py::object dispatch(py::object self, py::str name) {
    const std::string requested = name;
    const auto key_name = keyword_in(requested, to_str(self.attr("_key_prefix")));
    if (!key_name) {
        throw py::attribute_error("不存在的关键字成员：" + requested);
    }
    py::tuple known = self.attr("all_keyword")();
    if (!known.contains(*key_name)) {
        PyErr_SetString(PyExc_AttributeError, ("不存在的关键字：" + *key_name).c_str());
        py::error_already_set error;
        std::vector<std::string> names;
        for (py::handle name : known) {
            names.push_back(to_str(name));
        }
        const std::string hint = core::did_you_mean(core::closest_names(*key_name, names));
        if (!hint.empty()) {
            py_helpers::add_note(error, hint);
        }
        throw error;
    }
    py::object keyword = py::getattr(self, (kMethodPrefix + *key_name).c_str());
    // One logging caller for all keywords, bound by functools.partial: making a new
    // function object on every call cost more than most keywords themselves.
    static py::object *logged_call = new py::object(py::cpp_function(
        [](py::object keyword, const std::string &keyword_name, py::args args, py::kwargs kwargs) {
            if (!kwargs.empty()) {
                throw py::type_error("关键字【" + keyword_name +
                                     "】只接受位置参数，收到了命名参数: " +
                                     to_str(py::str(", ").attr("join")(kwargs)));
            }
            const bool logged = logger().info_enabled();
            if (logged) {
                // Credentials given to set_headers, add_cookie, ... are masked as in reports.
                logger().info(
                    "正在执行关键字: 【" + keyword_name + "】" +
                    to_repr(py_helpers::masked_keyword_args(py::str(keyword_name), args)));
            }
            py::object result = keyword(*args);
            if (logged) {
                logger().info("关键字执行完毕 ");
            }
            return result;
        },
        py::name("keyword_call")));
    static py::object *partial = new py::object(py::module_::import("functools").attr("partial"));
    return (*partial)(*logged_call, keyword, py::str(*key_name));
}

// ---- variables, drivers, assertions ------------------------------------------------------

void set_vars(py::object self, py::object var_name, py::object value) {
    in_step("设置变量", step_params({{"var_name", var_name}, {"value", value}}),
            [&] { self.attr("exchanger").attr("file")[var_name] = value; });
}

// Makes `driver` the object's session: maximised when it is a browser with a window, with a
// new element wait from the settings lumox_ui.wait_max and wait_poll (read now). A failed
// maximising is logged on `log_name`, the logger of the keyword's own module.
void use_driver(py::object self, py::object driver, const std::string &log_name) {
    self.attr("driver") = driver;
    // A headless window keeps its size whatever maximising asks (lumox marks the sessions
    // it starts headless).
    const bool headless = py::bool_(py::getattr(driver, "lumox_headless", py::bool_(false)));
    if (is_browser_session(driver) && !headless) {
        try {
            driver.attr("maximize_window")();
        } catch (py::error_already_set &error) {
            // Headless browsers and some grids cannot maximise; the case goes on.
            if (!error.matches(PyExc_Exception)) {
                throw;
            }
            py_helpers::get_logger(log_name.c_str()).info("最大化失败");
        }
    }
    py::object ui = py::module_::import("lumox.settings").attr("lumox_ui");
    self.attr("wait") =
        py::module_::import("selenium.webdriver.support.wait")
            .attr("WebDriverWait")(driver, py::arg("timeout") = ui.attr("wait_max"),
                                   py::arg("poll_frequency") = ui.attr("wait_poll"));
}

void set_driver(const KeywordArgs &call) {
    py::object driver = call.self.attr("usefixtures")[call["fixture_name"]];
    py::object webdriver =
        py::module_::import("selenium.webdriver.remote.webdriver").attr("WebDriver");
    if (!py::isinstance(driver, webdriver)) {
        PyErr_SetNone(PyExc_AssertionError);
        throw py::error_already_set();
    }
    use_driver(call.self, driver, "lumox.actlib_utils");
}

void assert_keyword(const KeywordArgs &call) {
    py::object value = call["value"];
    py::object assert_name = call["assert_name"];
    py::object actual_value = call["actual_value"];
    if (!py::isinstance<py::str>(assert_name)) {
        raise_argument_type("key_assert()", "assert_name", "str", assert_name);
    }
    if (logger().info_enabled()) {
        logger().info("正在断言 value=" + to_repr(value) + ", assert_name=" + to_repr(assert_name) +
                      ", actual_value=" + to_repr(actual_value));
    }
    module_class("Validator")(call.self, value, assert_name, actual_value);
}

// The usability the find script saw for the element it returned, kept for the first
// check of that very element (then the check asks the page again).
constexpr const char *kFoundUsableAttr = "_found_usable";

bool can_interactive(py::object self, py::object ele) {
    return in_step("判断元素是否可以交互", step_params({{"ele", ele}}), [&] {
        py::object driver = self.attr("driver");
        if (!is_browser_session(driver)) {
            // One round trip: whether the element shows, the server decides when it is
            // tapped or typed into, and the keywords try again while it refuses.
            return py::bool_(ele.attr("is_enabled")()).cast<bool>();
        }
        py::object usable = py::none();
        py::object found = py::getattr(self, kFoundUsableAttr, py::none());
        if (!found.is_none() && py::object(found[py::int_(0)]).is(ele)) {
            usable = found[py::int_(1)];
        } else {
            static const std::string script = page_scripts::with_helpers(page_scripts::kUsableBody);
            usable = driver.attr("execute_script")(script, ele);
        }
        py::setattr(self, kFoundUsableAttr, py::none());
        // As the page was a moment ago: `input` skips clearing a field that is empty.
        py::setattr(ele, page_scripts::kSeenEmptyAttr, usable[py::int_(3)]);
        // Enabled, not read-only, and shown: when the script says hidden, WebDriver's own
        // (slower) displayedness has the last word, so lumox never waits for an element
        // selenium would call displayed.
        if (!py::bool_(usable[py::int_(1)]).cast<bool>() ||
            py::bool_(usable[py::int_(2)]).cast<bool>()) {
            return false;
        }
        return py::bool_(usable[py::int_(0)]).cast<bool>() ||
               py::bool_(ele.attr("is_displayed")()).cast<bool>();
    });
}

// ---- element finding ----------------------------------------------------------------------

std::string now_text() { return to_str(py::module_::import("time").attr("time")()); }

py::object find_element_now(py::object self, py::object loc) {
    const std::string value = to_str(loc.attr("value"));
    py::object by = loc.attr("by");
    py::object index = loc.attr("index");
    const size_t position = index.cast<size_t>();
    const bool relative = value.rfind("./", 0) == 0;
    const bool is_toast = value.find("android.widget.Toast") != std::string::npos;

    const std::string css =
        to_str(py::module_::import("lumox.settings").attr("lumox_ui").attr("touch_css"));
    // In a browser one script finds, highlights and describes the element; strategies it
    // does not know (link texts), and selectors it cannot take, go through WebDriver's find.
    auto by_script = std::make_shared<bool>(!is_toast && is_browser_session(self.attr("driver")));

    // Called by the wait with the session until it returns a true value; a missing
    // single element (NoSuchElementException) counts as "not yet" for the wait.
    py::cpp_function condition([self, by, value, index, position, relative, is_toast, css,
                                by_script](py::object /*driver*/) -> py::object {
        logger().debug(now_text() + ", 开始等待...");
        py::object active = self.attr("_activate_ele");
        const bool inside = relative && py::bool_(active);
        if (*by_script) {
            static const std::string script = page_scripts::with_helpers(page_scripts::kFindBody);
            py::object found;
            try {
                found = self.attr("driver").attr("execute_script")(
                    script, by, value, index, inside ? active : py::none(), css);
            } catch (py::error_already_set &error) {
                if (!error.matches(py::module_::import("selenium.common.exceptions")
                                       .attr("JavascriptException"))) {
                    throw;
                }
                found = py::str("unsupported"); // WebDriver's find names the selector's fault
            }
            if (found.is_none()) {
                return py::bool_(false);
            }
            if (py::isinstance<py::int_>(found)) {
                logger().info("元素定位成功，但是数量不足: " + to_str(found) +
                              " <= " + to_str(index));
                return py::bool_(false);
            }
            if (!py::isinstance<py::str>(found)) {
                py::object ele = found[py::int_(0)];
                logger().info("元素定位成功: 【" + to_str(found[py::int_(1)]) + "】" +
                              to_str(found[py::int_(2)]));
                py::setattr(self, kFoundUsableAttr, py::make_tuple(ele, found[py::int_(3)]));
                // Known now; frame_enter would ask the browser again.
                py::setattr(ele, "found_tag_name", found[py::int_(1)]);
                return ele;
            }
            *by_script = false;
        }
        py::object root = inside ? active : self.attr("driver");
        py::list found;
        if (position == 0) {
            found.append(root.attr("find_element")(by, value));
        } else {
            found = py::list(root.attr("find_elements")(by, value));
        }
        logger().debug(now_text() + ",找到元素...");
        if (found.size() <= position) {
            logger().info("元素定位成功，但是数量不足: " + std::to_string(found.size()) +
                          " <= " + to_str(index));
            return py::bool_(false);
        }
        py::object ele = found[position];
        if (is_toast) {
            logger().info("元素定位成功");
        } else if (logger().info_enabled()) {
            // Two round trips (tag name, rect): asked only when the line is kept.
            logger().info("元素定位成功: 【" + to_str(ele.attr("tag_name")) + "】" +
                          to_str(ele.attr("rect")));
        }
        return ele;
    });

    py::object ele;
    try {
        ele = self.attr("wait").attr("until")(condition, "元素定位失败：等待超时， lumox_locator=" +
                                                             to_str(loc));
    } catch (py::error_already_set &error) {
        if (error.matches(
                py::module_::import("selenium.common.exceptions").attr("TimeoutException"))) {
            logger().error(to_str(error.value().attr("msg")));
        }
        throw;
    }

    py::object driver = self.attr("driver");
    // An empty highlight style means: leave the page's own style alone.
    if (!*by_script && !css.empty() && is_browser_session(driver)) {
        static const std::string light =
            page_scripts::with_helpers("lumox.light(arguments[0], arguments[1]);");
        try {
            driver.attr("execute_script")(light, ele, css);
        } catch (py::error_already_set &error) {
            // Only the screenshot's mark: a page where the script cannot run still works.
            if (!error.matches(py::module_::import("selenium.common.exceptions")
                                   .attr("JavascriptException"))) {
                throw;
            }
        }
    }
    return ele;
}

py::object find_element(py::object self, py::object locator) {
    return in_step("寻找元素", step_params({{"locator", locator}}), [&] {
        py::object loc = module_class("LumoxLocator")(locator);
        logger().info("正在定位元素: " + to_str(loc));
        py::object element = find_element_now(self, loc);
        py_helpers::remember_locator(element, to_str(locator));
        return element;
    });
}

} // namespace

py::object define_base_keyword(py::module_ &module) {
    py::dict ns;
    ns["_key_prefix"] = kKeyPrefix;
    ns["_all_keyword"] = py::none();
    ns["_activate_ele"] = py::none();
    ns["driver"] = py::none();
    ns["client"] = py::none();
    ns["wait"] = py::none();

    ns["__init__"] =
        method(&init_keyword, "init", py::arg("self"), py::arg("exchanger"), py::arg("usefixtures"),
               "exchanger: the run's Exchange; usefixtures: fixture name -> value.");
    ns["__getattr__"] = method(&dispatch, "dispatch", py::arg("self"), py::arg("name"),
                               "self._key_<name> is keyword <name> called with logging.");
    ns["all_keyword"] = classmethod(py::cpp_function(
        &all_keyword, py::name("all_keyword"), py::arg("cls"),
        "The keyword names of this class, in ascending order (cached per class)."));
    ns["print_key_doc"] =
        classmethod(py::cpp_function(&print_key_doc, py::name("print_key_doc"), py::arg("cls"),
                                     "Prints the documentation of every keyword of this class."));
    ns["set_vars"] = method(&set_vars, "set_vars", py::arg("self"), py::arg("var_name"),
                            py::arg("value"), "Stores a variable in the variables file.");
    ns["can_interactive"] =
        method(&can_interactive, "can_interactive", py::arg("self"), py::arg("ele"),
               "True when the element can take input: displayed, enabled and not read-only "
               "(in apps: enabled; the server refuses an element it does not show yet).");
    ns["_use_driver"] = method(&use_driver, "_use_driver", py::arg("self"), py::arg("driver"),
                               py::arg("log_name") = "lumox.actlib_utils",
                               "Makes `driver` the session of the keywords: maximised when it "
                               "is a browser, with a new element wait from the settings.");
    ns["find_element"] = method(&find_element, "find_element", py::arg("self"), py::arg("locator"),
                                "The element a locator expression names, waited for with "
                                "self.wait and highlighted in browsers.");

    add_keyword(
        module, ns,
        {
            .name = "set_driver",
            .title = "从fixtures请求浏览器",
            .summary = "从fixtures请求浏览器",
            .params = {{"fixture_name", Kind::text, "浏览器fixture的名称，如：chrome、new_chrome"}},
            .body = &set_driver,
        });
    add_keyword(module, ns,
                {
                    .name = "assert",
                    .title = "执行断言",
                    .summary = "执行断言，断言失败时用例失败",
                    .params = {{"value", Kind::any, "预期值"},
                               {"assert_name", Kind::text,
                                "断言方法：equal（等于）、contains（包含）、in（被包含）、"
                                "re（正则匹配）、scheme（符合JSON结构）"},
                               {"actual_value", Kind::any, "实际值，默认为空字符串", ""}},
                    .body = &assert_keyword,
                });
    return py_helpers::make_class(module, "BaseKeyWord", py::tuple(), ns,
                                  "The base of every keyword library: a keyword is a method "
                                  "key_<name>, called as self._key_<name>(...).");
}

} // namespace lumox::actlib_utils

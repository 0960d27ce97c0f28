// The session a keyword object drives (a browser, or an app on an Appium server), shared
// by the Web and App keywords.
#pragma once

#include "native/common/keyword.hpp"

#include <pybind11/pybind11.h>

#include <functional>
#include <string>
#include <vector>

namespace lumox::actlib {

namespace py = pybind11;

// The keyword object's driver; a clear error while there is none yet.
py::object driver_of(const py_helpers::KeywordArgs &call);

// The element of a locator expression, found through the object's find_element.
py::object find(const py_helpers::KeywordArgs &call, py::handle locator);

// What a locator matches as the page is now (no wait): the parsed locator and its matches,
// searched inside the element `touch` chose when the value starts with "./", as the other
// keywords do.
struct Matches {
    py::object locator;
    py::list elements;
};
Matches matches_now(const py_helpers::KeywordArgs &call, py::handle locator);

// The choice among `allowed` (lower case) a row made in `param`, blanks and case aside; a
// skipped or empty cell is the first, the default. Anything else fails naming them all.
std::string one_of(const py_helpers::KeywordArgs &call, const char *keyword, const char *param,
                   const std::vector<std::string> &allowed);

// A URL without a scheme (/web/login) taken relative to lumox_api.base_url, so API and
// browser cases of one service share its address.
py::object page_url(py::object url);

// Whether the session drives an app on an Appium server rather than a browser.
bool is_app_session(py::handle driver);

// Whether `error` says the element is no longer the page's (the page replaced it, as a
// click that loads a new page does) or cannot take the action yet. In app sessions an
// element that is not shown yet is refused as being in an invalid state.
bool element_went_away(py::error_already_set &error, bool app_session = false);

// Raises `error` again with a note that the element was tried for lumox_ui.wait_max.
[[noreturn]] void gave_up_on_element(py::error_already_set &error);

// Seconds as messages show them: 10, 0.5.
std::string seconds_text(double seconds);

// Seconds since an arbitrary start, for deadlines.
double monotonic_seconds();

// The wait of the session in seconds (lumox_ui.wait_max).
double wait_seconds();

// Pauses lumox_ui.wait_poll seconds.
void pause_one_poll();

// Runs act(find()) and, while the element went away (in the find's own checks or before
// the action), finds it again and retries, a poll apart, until lumox_ui.wait_max has
// passed; other errors propagate at once.
template <typename Find, typename Act>
py::object on_fresh_element(Find find_element, Act act, bool app_session = false) {
    const double give_up = monotonic_seconds() + wait_seconds();
    for (;;) {
        try {
            py::object element = find_element();
            return act(element);
        } catch (py::error_already_set &error) {
            if (!element_went_away(error, app_session)) {
                throw;
            }
            if (monotonic_seconds() > give_up) {
                gave_up_on_element(error);
            }
        }
        pause_one_poll();
    }
}

// The element wait of the keyword object (self.wait); a clear error while there is none.
py::object wait_of(const py_helpers::KeywordArgs &call);

// "after 10 s (lumox_ui.wait_max)": how long `wait` gave, for time-out messages.
std::string waited(py::handle wait);

// wait.until(condition) with `message` on time-out; `condition` takes no argument.
template <typename F>
py::object wait_until(const py_helpers::KeywordArgs &call, F condition,
                      const std::string &message) {
    py::object wait = wait_of(call);
    py::cpp_function poll([condition](py::object /*driver*/) -> py::object { return condition(); });
    return wait.attr("until")(poll, message + " " + waited(wait));
}

// The element of `locator` once can_interactive says it takes input (displayed, enabled,
// writable).
py::object ready_element(const py_helpers::KeywordArgs &call, py::handle locator);

// Runs `action` on the element of the row's `locator` once it is usable, as the report step
// "操作元素", after logging `announce` + the element's id; an element the page replaced
// meanwhile (or, in apps, one not on screen yet) is found again.
void act_on_ready(const py_helpers::KeywordArgs &call, const std::string &announce,
                  const std::function<void(py::object)> &action);

} // namespace lumox::actlib

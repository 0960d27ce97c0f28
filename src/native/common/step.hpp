// Report steps: a named step of the test report around a piece of work, closed as
// failed when an error leaves it (allure's StepContext, used as a scope).
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <type_traits>
#include <utility>

namespace lumox::py_helpers {

namespace py = pybind11;

// Whether anything records report steps now (allure writing results, or a listener of
// allure's plug-in manager). When nothing does, steps and their parameters cost nothing.
bool steps_recorded();

// How a value shows among a report step's parameters: allure's repr, except an enum by its
// value ("not set", not <NotSetEnum.NOT_SET: 'not set'>) and an element by the locator
// that found it, not selenium's session and element ids.
py::str step_param(py::handle value);

// Remembers on `element` the locator that found it, for step_param.
void remember_locator(py::handle element, const std::string &locator);

// Marks the case of `item` as one that passed only after `tried` tries of `times`: a
// WARNING "retry: <what> passed at try N of M" on `logger`, the item's user property
// lumox_retried, and the report tag "flaky". A retried pass is never a plain pass.
void mark_retried(py::handle item, const char *logger, const std::string &what, long long tried,
                  long long times);

class StepScope {
public:
    // Opens the step, unless nothing records steps (then the scope does nothing).
    StepScope(const std::string &title, py::dict params = py::dict());
    StepScope(const StepScope &) = delete;
    StepScope &operator=(const StepScope &) = delete;
    // Closes the step as passed; call only when the work finished normally.
    void close_ok();
    // Closes the step as failed with the Python error `error`.
    void close_failed(py::error_already_set &error);
    // Closes the step as failed with a plain RuntimeError (a C++ exception left it).
    void close_failed_unknown();

private:
    py::object context_;
    bool open_ = false;
};

// Runs `body` inside the report step `title`; the step fails when `body` throws, and the
// error propagates unchanged.
template <typename F>
decltype(auto) in_step(const std::string &title, py::dict params, F &&body) {
    StepScope step(title, std::move(params));
    try {
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            step.close_ok();
        } else {
            decltype(auto) result = body();
            step.close_ok();
            return result;
        }
    } catch (py::error_already_set &error) {
        step.close_failed(error);
        throw;
    } catch (...) {
        step.close_failed_unknown();
        throw;
    }
}

} // namespace lumox::py_helpers

// Work done again until it passes: the tries of a YAML step's `retry`, of a flow called
// with `retry`, and of a workbook's retry row. Each try is a report step of its own
// ("第1次尝试", ...), and when none passes the error lists every try's outcome.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "pylog.hpp"
#include "step.hpp"

namespace lumox::py_helpers {

namespace py = pybind11;

struct RetryPlan {
    long long times = 1;  // tries in all
    double delay = 1.0;   // seconds before the second try
    double backoff = 1.0; // each later delay is the one before times this
    py::object until;     // a check of the response's own (as `response` is), or None
};

// The plan a YAML `retry` value writes: the number of tries, or a mapping of times, delay,
// backoff and until. ValueError "retry: ..." naming what is wrong otherwise.
RetryPlan retry_plan(py::handle section);

// "try 2: AssertionError: <message>", the message cut short.
std::string try_outcome(long long attempt, py::error_already_set &error);

// AssertionError "retry: <what> did not pass in N tries", then one line per try.
[[noreturn]] void raise_tries_failed(const std::string &what, long long times,
                                     const std::vector<std::string> &outcomes);

// Runs `body` up to plan.times tries, `plan.delay` seconds apart (growing by
// `plan.backoff`), each try the report step "第N次尝试". A try failing with a Python error
// that `retryable(error)` accepts is logged on `logger` and followed by the next; another
// error goes on at once. Returns the number of the try that passed.
template <typename Body, typename Retryable>
long long run_tries(const RetryPlan &plan, const char *logger, const std::string &what, Body &&body,
                    Retryable &&retryable) {
    std::vector<std::string> outcomes;
    double delay = plan.delay;
    for (long long attempt = 1;; ++attempt) {
        try {
            in_step("第" + std::to_string(attempt) + "次尝试", py::dict(), body);
            return attempt;
        } catch (py::error_already_set &error) {
            if (!retryable(error)) {
                throw;
            }
            outcomes.push_back(try_outcome(attempt, error));
            get_logger(logger).info("retry: " + outcomes.back());
            if (attempt >= plan.times) {
                raise_tries_failed(what, plan.times, outcomes);
            }
        }
        py::module_::import("time").attr("sleep")(delay);
        delay *= plan.backoff;
    }
}

} // namespace lumox::py_helpers

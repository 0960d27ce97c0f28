#include "retry.hpp"

#include "core/utf8.hpp"

namespace lumox::py_helpers {

namespace {

constexpr std::size_t kOutcomeLength = 500;

[[noreturn]] void retry_error(const std::string &message) {
    py::set_error(PyExc_ValueError, ("retry: " + message).c_str());
    throw py::error_already_set();
}

double retry_number(py::handle value, const char *name, double least) {
    double number = least - 1;
    if (!PyBool_Check(value.ptr()) && (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr()))) {
        number = value.cast<double>();
    }
    if (!(number >= least) || number > 1e6) {
        retry_error(std::string(name) + " must be a number of at least " +
                    to_str(py::float_(least)) + ", not " + to_repr(value));
    }
    return number;
}

} // namespace

RetryPlan retry_plan(py::handle section) {
    RetryPlan plan;
    plan.until = py::none();
    py::dict settings;
    if (PyLong_Check(section.ptr()) && !PyBool_Check(section.ptr())) {
        settings["times"] = section;
    } else if (PyDict_Check(section.ptr())) {
        settings = py::reinterpret_borrow<py::dict>(section);
    } else {
        retry_error("give the number of tries (retry: 5) or a mapping of times, delay, backoff "
                    "and until, not " +
                    to_repr(section));
    }
    for (auto [key, value] : settings) {
        const std::string name = to_str(key);
        if (name == "times") {
            const double times = retry_number(value, "times", 1);
            if (times != static_cast<double>(static_cast<long long>(times))) {
                retry_error("times must be a whole number of tries, not " + to_repr(value));
            }
            plan.times = static_cast<long long>(times);
        } else if (name == "delay") {
            plan.delay = retry_number(value, "delay", 0);
        } else if (name == "backoff") {
            plan.backoff = retry_number(value, "backoff", 1);
        } else if (name == "until") {
            if (!PyDict_Check(value.ptr())) {
                retry_error("until must be a mapping of checks, written as `response` is, not " +
                            to_repr(value));
            }
            plan.until = py::dict(py::reinterpret_borrow<py::dict>(value));
        } else {
            retry_error("unknown key " + to_repr(key) +
                        " (retry takes times, delay, backoff and until)");
        }
    }
    return plan;
}

std::string try_outcome(long long attempt, py::error_already_set &error) {
    std::string text = to_str(error.value());
    text = core::cut_utf8(text, kOutcomeLength);
    return "try " + std::to_string(attempt) + ": " +
           to_str(py::type::handle_of(error.value()).attr("__name__")) + ": " + text;
}

void raise_tries_failed(const std::string &what, long long times,
                        const std::vector<std::string> &outcomes) {
    std::string message = "retry: " + what + " did not pass in " + std::to_string(times) + " tries";
    for (const std::string &outcome : outcomes) {
        message += "\n  " + outcome;
    }
    py::set_error(PyExc_AssertionError, message.c_str());
    throw py::error_already_set();
}

} // namespace lumox::py_helpers

#include "step_runner.hpp"

#include "core/case_format.hpp"
#include "core/utf8.hpp"

#include "native/common/http_attachments.hpp"
#include "native/common/pylog.hpp"
#include "native/common/retry.hpp"
#include "native/common/secrets.hpp"
#include "native/common/step.hpp"
#include "native/common/truthy.hpp"

#include <optional>
#include <string>
#include <vector>

namespace lumox::steps {

using py_helpers::truthy;

namespace {

using py_helpers::get_logger;
using py_helpers::to_str;

const py_helpers::Logger &plugin_log() { return get_logger("lumox._plugin"); }

// The run-wide objects live on the module, created when it was loaded.
py::object module_object(const char *name) { return py::module_::import("lumox.steps").attr(name); }

[[noreturn]] void throw_python_error(PyObject *type, const std::string &message) {
    py::set_error(type, message.c_str());
    throw py::error_already_set();
}

// A step section used as keyword arguments or walked entry by entry must be a mapping;
// the copy keeps the tester's step untouched and its order.
py::dict mapping_copy(py::handle value, const std::string &what) {
    py::object mapping = py::module_::import("collections.abc").attr("Mapping");
    if (!py::isinstance(value, mapping)) {
        throw_python_error(PyExc_TypeError, what + " must be a mapping, not " +
                                                to_str(py::type::of(value).attr("__name__")));
    }
    return py::dict(py::module_::import("builtins").attr("dict")(value));
}

// Upload files are opened for one request and closed as soon as it is over, sent or not.
class OpenedFiles {
public:
    OpenedFiles() = default;
    OpenedFiles(const OpenedFiles &) = delete;
    OpenedFiles &operator=(const OpenedFiles &) = delete;

    py::object open(py::handle path) {
        py::object file = py::module_::import("builtins").attr("open")(path, "rb");
        files_.push_back(file);
        return file;
    }

    void close_all() {
        std::vector<py::object> files;
        files.swap(files_);
        for (auto &file : files) {
            file.attr("close")();
        }
    }

private:
    std::vector<py::object> files_;
};

void send_request(py::handle item, py::handle section) {
    plugin_log().info("step: 发送请求...");
    py::dict kwargs = mapping_copy(section, "the 'request' section of a step");
    OpenedFiles opened;
    try {
        if (kwargs.contains("files") && !py::object(kwargs["files"]).is_none()) {
            py::dict uploads;
            for (auto [name, path] : mapping_copy(kwargs["files"], "'request.files'")) {
                uploads[name] = opened.open(path);
            }
            kwargs["files"] = uploads;
        }
        py_helpers::hide_secrets_in_repr(kwargs);
        py::object response = module_object("client").attr("request")(**kwargs);
        opened.close_all();
        item.attr("resp") = response;
        py_helpers::attach_http_exchange(response);
    } catch (...) {
        // Only closes the files; the error goes on unchanged.
        opened.close_all();
        throw;
    }
}

// A value as a report step parameter shows it: its repr, cut to a readable length.
py::str shown(py::handle value) {
    constexpr std::size_t kShown = 300;
    const std::string text = core::cut_utf8(py_helpers::to_repr(value), kShown);
    return py::str(text);
}

void validate_response(py::handle item, py::handle section) {
    plugin_log().info("step: 验证响应...");
    py::dict kwargs = mapping_copy(section, "the 'response' section of a step");
    py::dict params;
    if (py_helpers::steps_recorded()) {
        py::object response = item.attr("resp");
        params["status_code (actual)"] =
            response.is_none() ? py::str("no response") : shown(response.attr("status_code"));
        for (auto [name, expected] : kwargs) {
            params[py::str(name)] = shown(expected);
        }
    }
    // A report step for each check section, naming what it checked against what: a step of
    // checks only was an empty line of the report.
    py_helpers::in_step("验证响应", params, [&] {
        py::object validator = py::module_::import("lumox.responses").attr("validator");
        py::object errors = validator(item.attr("resp"), **kwargs);
        if (py::len(errors) != 0) {
            py::object text = py::module_::import("json").attr("dumps")(errors);
            throw_python_error(PyExc_AssertionError, text.cast<std::string>());
        }
    });
}

// The run's variables (lumox.templates' globals), for the report of what was extracted
// and what was checked.
py::object run_variables() { return py::module_::import("lumox.templates").attr("env_globals"); }

void extract_variables(py::handle item, py::handle section) {
    plugin_log().info("step: 提取变量...");
    py::dict entries = mapping_copy(section, "the 'extract' section of a step");
    py::object extract = module_object("exchanger").attr("extract");
    for (auto [var_name, extract_info] : entries) {
        // [attr, expr] or [attr, expr, index]
        // The store reports each extract as a step of its own.
        extract(item.attr("resp"), var_name,
                *py::tuple(py::reinterpret_borrow<py::object>(extract_info)));
    }
}

void assert_variables(py::handle section) {
    plugin_log().info("step: 断言变量...");
    py::dict entries = mapping_copy(section, "the 'validate' section of a step");
    py::object new_assertion = py::module_::import("lumox.assertion").attr("new_assertion");
    for (auto [assert_name, assert_data] : entries) {
        py::dict params;
        if (py_helpers::steps_recorded()) {
            params["expected"] = shown(assert_data);
            py::object variables = run_variables();
            params["actual"] = variables.contains(assert_name) ? shown(variables[assert_name])
                                                               : py::str("not set");
        }
        py_helpers::in_step("断言变量 " + py_helpers::to_str(assert_name), params,
                            [&] { new_assertion(assert_name, assert_data); });
    }
}

// Runs the step's keys in the order written; `sent` leaves out the request, already sent.
// Keys of other plug-ins are theirs; `retry` is run around the step and `use` and `with`
// by the case, before a step reaches here.
void run_keys(py::handle item, py::dict step, bool sent = false) {
    using core::StepKey;
    for (auto [key, section] : step) {
        if (!py::isinstance<py::str>(key)) {
            continue;
        }
        const std::optional<StepKey> known = core::step_key(key.cast<std::string>());
        if (!known) {
            continue;
        }
        switch (*known) {
        case StepKey::Mock:
            plugin_log().info("step: mock HTTP");
            break;
        case StepKey::Request:
            if (!sent) {
                send_request(item, section);
            }
            break;
        case StepKey::Response:
            validate_response(item, section);
            break;
        case StepKey::Extract:
            extract_variables(item, section);
            break;
        case StepKey::Validate:
            assert_variables(section);
            break;
        case StepKey::Retry:
        case StepKey::Use:
        case StepKey::With:
            break;
        }
    }
}

// ---- retry: the step again, until it passes or its `until` check holds ------------------

// A failure that a later try may not have: a check that did not hold, or the service not
// answering (yet).
bool worth_another_try(py::error_already_set &error) {
    return error.matches(PyExc_AssertionError) ||
           error.matches(py::module_::import("httpx").attr("TransportError"));
}

// The response's `until` check; an AssertionError naming what did not hold.
void check_until(py::handle item, py::dict until) {
    py::object errors =
        py::module_::import("lumox.responses").attr("validator")(item.attr("resp"), **until);
    if (py::len(errors) != 0) {
        throw_python_error(PyExc_AssertionError,
                           "until: " + py::module_::import("json")
                                           .attr("dumps")(errors, py::arg("ensure_ascii") = false)
                                           .cast<std::string>());
    }
}

void run_with_retry(py::handle item, py::dict step) {
    const py_helpers::RetryPlan plan = py_helpers::retry_plan(step["retry"]);
    const bool until = !plan.until.is_none();
    const long long passed = py_helpers::run_tries(
        plan, "lumox._plugin", "the step",
        [&] {
            if (until) {
                if (step.contains("request")) {
                    send_request(item, step["request"]);
                }
                check_until(item, plan.until);
            } else {
                run_keys(item, step);
            }
        },
        worth_another_try);
    if (until) {
        run_keys(item, step, true); // the step's own checks, on the answer that held
    }
    if (passed > 1) {
        py_helpers::mark_retried(item, "lumox._plugin", "the step", passed, plan.times);
    }
}

} // namespace

py::int_ run_step(py::object item, py::object /*request*/) {
    py::dict step = mapping_copy(item.attr("current_step"), "item.current_step");
    if (step.contains("retry")) {
        run_with_retry(item, step);
    } else {
        run_keys(item, step);
    }
    return py::int_(1);
}

// The process that hands cases to pytest-xdist workers runs none itself: the template
// globals it holds are the ones it loaded or its plug-ins set, and every worker sets those
// too (after which a case may have changed them).
bool is_xdist_controller(py::handle config) {
    return !config.is_none() && !py::hasattr(config, "workerinput") &&
           truthy(config.attr("pluginmanager").attr("has_plugin")("dsession"));
}

void save_variables(py::object config) {
    py::object settings = py::module_::import("lumox.settings").attr("lumox");
    py::object vars_file = settings.attr("vars_file");
    if (!truthy(vars_file) || !truthy(settings.attr("vars_save"))) {
        return;
    }
    // Without a variable store made and no variables set, there is nothing to save; the
    // file stays as it is.
    py::dict loaded = py::module_::import("lumox.steps").attr("__dict__");
    py::dict modules = py::module_::import("sys").attr("modules");
    if (!loaded.contains("exchanger") &&
        (!modules.contains("lumox.templates") ||
         py::len(modules["lumox.templates"].attr("env_globals")) == 0)) {
        return;
    }
    try {
        py::object exchanger = module_object("exchanger");
        if (is_xdist_controller(config)) {
            exchanger.attr("file").attr("save")();
        } else {
            exchanger.attr("dump")();
        }
    } catch (py::error_already_set &error) {
        // Any ordinary error is reported; KeyboardInterrupt and the like go on.
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        // The traceback is kept apart from the value by pybind11: hand logging all three.
        py::object trace = error.trace() ? error.trace() : py::none();
        py::tuple exc_info = py::make_tuple(error.type(), error.value(), trace);
        plugin_log().object().attr("error")("保存变量文件出错: " + to_str(error.value()),
                                            py::arg("exc_info") = exc_info);
        return;
    }
    plugin_log().info("保存变量文件成功: " + to_str(vars_file));
}

} // namespace lumox::steps

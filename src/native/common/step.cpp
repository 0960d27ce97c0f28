#include "step.hpp"

#include "core/notice_text.hpp"
#include "http_attachments.hpp"
#include "pylog.hpp"
#include "secrets.hpp"

namespace lumox::py_helpers {

bool steps_recorded() {
    // allure_commons.plugin_manager.hook.start_step, kept for the process.
    static py::object *start_step = new py::object(py::module_::import("allure_commons")
                                                       .attr("plugin_manager")
                                                       .attr("hook")
                                                       .attr("start_step"));
    return py::len(start_step->attr("get_hookimpls")()) > 0;
}

namespace {
constexpr const char *kLocatorAttr = "_lumox_locator";
}

py::str step_param(py::handle value) {
    static const py::object *enum_type = new py::object(py::module_::import("enum").attr("Enum"));
    static const py::object *represent =
        new py::object(py::module_::import("allure_commons.utils").attr("represent"));
    if (py::isinstance(value, *enum_type)) {
        return py::str(value.attr("value"));
    }
    if (py::hasattr(value, kLocatorAttr)) {
        return py::str("element " + py::str(value.attr(kLocatorAttr)).cast<std::string>());
    }
    py::object modules = py::module_::import("sys").attr("modules");
    py::object element_module = modules.attr("get")("selenium.webdriver.remote.webelement");
    if (!element_module.is_none() && py::isinstance(value, element_module.attr("WebElement"))) {
        return py::str("element " + py::str(value.attr("id")).cast<std::string>());
    }
    return (*represent)(value);
}

void remember_locator(py::handle element, const std::string &locator) {
    try {
        py::setattr(element, kLocatorAttr, py::str(locator));
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_AttributeError)) { // an element type with __slots__
            throw;
        }
    }
}

StepScope::StepScope(const std::string &title, py::dict params) {
    if (!steps_recorded()) {
        return;
    }
    py::object step_context = py::module_::import("allure_commons._allure").attr("StepContext");
    const std::vector<std::string> secrets =
        params.empty() ? std::vector<std::string>() : remembered_secrets();
    if (!secrets.empty()) {
        for (auto [name, value] : params) {
            if (py::isinstance<py::str>(value)) {
                const std::string text = value.cast<std::string>();
                const std::string hidden = core::mask_secrets(text, secrets);
                if (hidden != text) {
                    params[name] = py::str(hidden);
                }
            }
        }
    }
    context_ = step_context(title, params);
    context_.attr("__enter__")();
    open_ = true;
}

void StepScope::close_ok() {
    if (open_) {
        open_ = false;
        context_.attr("__exit__")(py::none(), py::none(), py::none());
    }
}

void StepScope::close_failed(py::error_already_set &error) {
    if (open_) {
        open_ = false;
        // An error raised from C++ has no traceback yet; a null handle cannot be passed.
        py::object trace = error.trace() ? py::object(error.trace()) : py::object(py::none());
        context_.attr("__exit__")(error.type(), error.value(), trace);
    }
}

void StepScope::close_failed_unknown() {
    if (open_) {
        open_ = false;
        py::object runtime_error = py::module_::import("builtins").attr("RuntimeError");
        context_.attr("__exit__")(runtime_error, runtime_error("internal error"), py::none());
    }
}

void mark_retried(py::handle item, const char *logger, const std::string &what, long long tried,
                  long long times) {
    get_logger(logger).warning("retry: " + what + " passed at try " + std::to_string(tried) +
                               " of " + std::to_string(times));
    item.attr("user_properties").attr("append")(py::make_tuple("lumox_retried", tried));
    if (report_is_recording()) {
        py::module_::import("allure").attr("dynamic").attr("tag")("flaky");
    }
}

} // namespace lumox::py_helpers

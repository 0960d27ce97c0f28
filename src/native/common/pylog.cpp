#include "pylog.hpp"

#include <map>

namespace lumox::py_helpers {

Logger::Logger(const char *name)
    : logger_(py::module_::import("logging").attr("getLogger")(name)) {}

void Logger::log(const char *level, const std::string &msg) const {
    // Passed without arguments, so a '%' in the message is never taken as a format.
    logger_.attr(level)(msg);
}

bool Logger::enabled_for(int level) const {
    return PyObject_IsTrue(logger_.attr("isEnabledFor")(level).ptr()) == 1;
}

bool Logger::info_enabled() const { return enabled_for(20); } // logging.INFO

bool Logger::debug_enabled() const { return enabled_for(10); } // logging.DEBUG

const Logger &get_logger(const char *name) {
    static std::map<std::string, Logger *> loggers;
    auto found = loggers.find(name);
    if (found == loggers.end()) {
        found = loggers.emplace(name, new Logger(name)).first;
    }
    return *found->second;
}

std::string utf8_text(py::handle text) {
    Py_ssize_t size = 0;
    if (const char *data = PyUnicode_AsUTF8AndSize(text.ptr(), &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    // Lone surrogates have no UTF-8 form: shown escaped (\ud800) instead of failing.
    PyErr_Clear();
    return py::reinterpret_borrow<py::str>(text)
        .attr("encode")("utf-8", "backslashreplace")
        .cast<std::string>();
}

bool is_utf8_encodable(py::handle text) {
    Py_ssize_t size = 0;
    if (PyUnicode_AsUTF8AndSize(text.ptr(), &size) != nullptr) {
        return true;
    }
    PyErr_Clear();
    return false;
}

std::string to_str(py::handle obj) { return utf8_text(py::str(obj)); }

std::string to_repr(py::handle obj) { return utf8_text(py::repr(obj)); }

} // namespace lumox::py_helpers

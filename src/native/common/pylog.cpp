#include "pylog.hpp"

#include <map>

namespace lumox::py_helpers {

Logger::Logger(const char *name)
    : logger_(py::module_::import("logging").attr("getLogger")(name)) {}

void Logger::log(const char *level, const std::string &msg) const {
    // Passed without arguments, so a '%' in the message is never taken as a format.
    logger_.attr(level)(msg);
}

const Logger &get_logger(const char *name) {
    static std::map<std::string, Logger *> loggers;
    auto found = loggers.find(name);
    if (found == loggers.end()) {
        found = loggers.emplace(name, new Logger(name)).first;
    }
    return *found->second;
}

std::string to_str(py::handle obj) { return py::str(obj).cast<std::string>(); }

std::string to_repr(py::handle obj) { return py::repr(obj).cast<std::string>(); }

} // namespace lumox::py_helpers

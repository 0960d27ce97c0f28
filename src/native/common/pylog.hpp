// The system's log lines go through Python's logging, to the logger named after the
// module that writes them, so testers configure them with pytest's --log-* options.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace lumox::py_helpers {

namespace py = pybind11;

class Logger {
public:
    explicit Logger(const char *name);
    // The underlying logging.Logger, for publishing as a module attribute.
    py::object object() const { return logger_; }

    // Whether a line at INFO (DEBUG) would be written: log text that nobody reads is not
    // built.
    bool info_enabled() const;
    bool debug_enabled() const;

    void debug(const std::string &msg) const { log("debug", msg); }
    void info(const std::string &msg) const { log("info", msg); }
    void warning(const std::string &msg) const { log("warning", msg); }
    void error(const std::string &msg) const { log("error", msg); }
    // Logs at ERROR with the traceback of the exception being handled attached.
    void exception(const std::string &msg) const { log("exception", msg); }

private:
    void log(const char *level, const std::string &msg) const;
    bool enabled_for(int level) const;
    py::object logger_;
};

// The logger `name`, created on first use. Loggers live for the whole process and are
// never destroyed: releasing a Python object after interpreter shutdown would crash.
const Logger &get_logger(const char *name);

// The UTF-8 bytes of the str `text`; lone surrogates, which have none, come out escaped.
std::string utf8_text(py::handle text);
// False for a str holding lone surrogates (text that cannot be sent, saved or shown as is).
bool is_utf8_encodable(py::handle text);

// str(obj): the plain text form used in log lines and messages (never fails on text).
std::string to_str(py::handle obj);
// repr(obj): the printable representation.
std::string to_repr(py::handle obj);

} // namespace lumox::py_helpers

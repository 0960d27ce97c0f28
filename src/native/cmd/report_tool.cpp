#include "report_tool.hpp"

#include "native/common/pylog.hpp"

#include <string>

namespace lumox::cmd {

namespace {

void print_cannot_run(const std::string &tool, const std::string &why) {
    py::print("出错：无法运行allure命令 " + tool + "（[lumox] allure_path）：" + why);
}

// While it lives, SIGTERM to this process raises SystemExit (status 143), so that the
// caller's clean-up runs instead of the process vanishing. Signals are the main thread's.
class TermAsExit {
public:
    TermAsExit() {
        py::module_ threading = py::module_::import("threading");
        if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) {
            return;
        }
        previous_ =
            signal_.attr("signal")(signal_.attr("SIGTERM"), py::cpp_function([](py::args) {
                                       PyErr_SetObject(PyExc_SystemExit, py::int_(128 + 15).ptr());
                                       throw py::error_already_set();
                                   }));
    }
    ~TermAsExit() {
        if (previous_) {
            PyObject *restored = PyObject_CallMethod(
                signal_.ptr(), "signal", "OO", signal_.attr("SIGTERM").ptr(), previous_.ptr());
            if (restored == nullptr) {
                PyErr_Clear(); // nothing to do about it while unwinding
            }
            Py_XDECREF(restored);
        }
    }
    TermAsExit(const TermAsExit &) = delete;
    TermAsExit &operator=(const TermAsExit &) = delete;

private:
    py::module_ signal_ = py::module_::import("signal");
    py::object previous_;
};

// Waits for the tool; when the wait ends early its whole process group is stopped.
int wait_for(py::object process) {
    TermAsExit term_as_exit;
    try {
        return process.attr("wait")().cast<int>();
    } catch (py::error_already_set &) {
        py::module_ signal = py::module_::import("signal");
        py::module_ os = py::module_::import("os");
        try {
            os.attr("killpg")(process.attr("pid"), signal.attr("SIGTERM"));
            process.attr("wait")(py::arg("timeout") = 10);
        } catch (py::error_already_set &) { // gone already, or deaf to SIGTERM
            try {
                os.attr("killpg")(process.attr("pid"), signal.attr("SIGKILL"));
            } catch (py::error_already_set &) {
            }
        }
        throw;
    }
}

} // namespace

py::str expanded_path(py::handle path) {
    py::module_ os_path = py::module_::import("os.path");
    return os_path.attr("expanduser")(os_path.attr("expandvars")(py::str(path)));
}

std::optional<int> run_tool(py::handle tool, std::initializer_list<py::object> args) {
    const std::string text = py_helpers::to_str(tool);
    py::list argv;
    try {
        argv = py::module_::import("shlex").attr("split")(text);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) {
            throw;
        }
        print_cannot_run(py_helpers::to_repr(tool), py_helpers::to_str(error.value()));
        return std::nullopt;
    }
    if (argv.empty()) {
        print_cannot_run("''", "设置为空");
        return std::nullopt;
    }
    for (std::size_t i = 0; i < argv.size(); ++i) {
        argv[i] = expanded_path(argv[i]);
    }
    for (const py::object &arg : args) {
        argv.append(py::str(arg));
    }
    py::module_ subprocess = py::module_::import("subprocess");
    py::object process;
    try {
        process = subprocess.attr("Popen")(argv, py::arg("start_new_session") = true);
    } catch (py::error_already_set &error) {
        // Not found, not executable: the command never started.
        if (!error.matches(PyExc_OSError)) {
            throw;
        }
        print_cannot_run(py_helpers::to_repr(argv[0]), py_helpers::to_str(error.value()));
        return std::nullopt;
    }
    return wait_for(process);
}

} // namespace lumox::cmd

#include "report_tool.hpp"

#include "native/common/pylog.hpp"

#include <string>

namespace lumox::cmd {

namespace {

void print_cannot_run(const std::string &tool, const std::string &why) {
    py::print("出错：无法运行allure命令 " + tool + "（[lumox] allure_path）：" + why);
}

// Waits for the tool; SIGTERM to this process ends the wait as SystemExit, so that the
// caller's clean-up runs instead of the process vanishing.
int wait_for(py::object process) {
    py::module_ signal = py::module_::import("signal");
    py::module_ threading = py::module_::import("threading");
    const bool main_thread = threading.attr("current_thread")().is(threading.attr("main_thread")());
    py::object previous;
    if (main_thread) {
        previous = signal.attr("signal")(
            signal.attr("SIGTERM"), py::cpp_function([](py::args) {
                PyErr_SetObject(PyExc_SystemExit, py::int_(128 + 15).ptr());
                throw py::error_already_set();
            }));
    }
    try {
        const int status = process.attr("wait")().cast<int>();
        if (main_thread) {
            signal.attr("signal")(signal.attr("SIGTERM"), previous);
        }
        return status;
    } catch (py::error_already_set &) {
        if (main_thread) {
            signal.attr("signal")(signal.attr("SIGTERM"), previous);
        }
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

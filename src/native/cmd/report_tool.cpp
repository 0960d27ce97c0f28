#include "report_tool.hpp"

#include "native/common/pylog.hpp"

#include <string>

namespace lumox::cmd {

namespace {

void print_cannot_run(const std::string &tool, const std::string &why) {
    py::print("出错：无法运行allure命令 " + tool + "（[lumox] allure_path）：" + why);
}

} // namespace

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
    for (const py::object &arg : args) {
        argv.append(py::str(arg));
    }
    py::module_ subprocess = py::module_::import("subprocess");
    try {
        return subprocess.attr("call")(argv).cast<int>();
    } catch (py::error_already_set &error) {
        // Not found, not executable: the command never started.
        if (!error.matches(PyExc_OSError)) {
            throw;
        }
        print_cannot_run(py_helpers::to_repr(argv[0]), py_helpers::to_str(error.value()));
        return std::nullopt;
    }
}

} // namespace lumox::cmd

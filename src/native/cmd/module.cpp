// lumox.cmd: the operations behind the `lumox` command -- start (a new case workbook),
// run (pytest), report (the Allure HTML report, announced and opened on request) and docs
// (the keyword documentation) -- with the pytest.ini guard of run and report, the scoped
// change of directory and main_with, which runs the tests of another directory.
#include "new_workbook.hpp"
#include "package_data.hpp"
#include "report_tool.hpp"

#include "core/command_texts.hpp"
#include "core/runner_keywords.hpp"
#include "native/common/broken_files.hpp"
#include "native/common/errors.hpp"
#include "native/common/module_init.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/pylog.hpp"

#include <pybind11/pybind11.h>

#include <string>
#include <utility>

namespace py = pybind11;

namespace {

using lumox::py_helpers::get_logger;
using lumox::py_helpers::make_class;
using lumox::py_helpers::method;
using lumox::py_helpers::to_str;

constexpr const char *kIniName = "pytest.ini";

const lumox::py_helpers::Logger &logger() { return get_logger("lumox.pytest"); }

py::module_ cmd_module() { return py::module_::import("lumox.cmd"); }

template <typename T>
py::object path_of(T &&value) {
    return py::module_::import("pathlib").attr("Path")(std::forward<T>(value));
}

// ---- pytest.ini guard -------------------------------------------------------------------

void ensure_pytest_ini() {
    py::object ini = path_of(kIniName);
    if (py::bool_(ini.attr("exists")())) {
        return;
    }
    const std::string message = std::string(kIniName) + "不存在，自动创建";
    py::print(message);
    logger().info(message);
    py::object source = lumox::cmd::data_file("pytest.ini.txt");
    ini.attr("write_text")(source.attr("read_text")(py::arg("encoding") = "utf-8"),
                           py::arg("encoding") = "utf-8");
    py::module_ settings = py::module_::import("lumox.settings");
    for (const char *group : {"lumox", "lumox_api", "lumox_ui"}) {
        settings.attr(group).attr("reload_settings")();
    }
}

py::object guarded_call(py::object self, py::args args, py::kwargs kwargs) {
    ensure_pytest_ini();
    return self.attr("__wrapped__")(*args, **kwargs);
}

py::object write_pytest_ini(py::object func) {
    py::object guard = cmd_module().attr("PytestIniGuard")();
    // Name, description and signature of func stay visible (help, the command's usage).
    py::module_::import("functools").attr("update_wrapper")(guard, func);
    return guard;
}

// ---- working directory --------------------------------------------------------------------

void enter_dir(py::object self) {
    py::object target = path_of(self.attr("target_path"));
    if (py::bool_(self.attr("allow_file")) && py::bool_(target.attr("is_file")())) {
        target = target.attr("parent");
    }
    py::module_ os = py::module_::import("os");
    py::object previous = os.attr("getcwd")();
    os.attr("chdir")(target); // fails before anything changed
    self.attr("previous") = previous;
}

bool leave_dir(py::object self, py::object, py::object, py::object) {
    py::object previous = self.attr("previous");
    if (!previous.is_none()) {
        self.attr("previous") = py::none();
        py::module_::import("os").attr("chdir")(previous);
    }
    return false; // an error inside the scope goes on unchanged
}

void init_dir_scope(py::object self, py::object target_path, py::object allow_file) {
    self.attr("target_path") = target_path;
    self.attr("allow_file") = allow_file;
    self.attr("previous") = py::none();
}

py::object define_dir_scope(py::module_ &m) {
    py::dict ns;
    ns["__init__"] = method(&init_dir_scope, "init", py::arg("self"), py::arg("target_path"),
                            py::arg("allow_file") = false);
    ns["__enter__"] = method(&enter_dir, "__enter__", py::arg("self"));
    ns["__exit__"] = method(&leave_dir, "__exit__", py::arg("self"), py::arg("exc_type"),
                            py::arg("exc_value"), py::arg("traceback"));
    return make_class(m, "TestDirScope", py::make_tuple(), ns,
                      "The scope of switch_test_dir: the working directory is the target inside "
                      "it and the previous one again after it, also after an error.");
}

py::object switch_test_dir(py::object target_path, py::object allow_file) {
    return cmd_module().attr("TestDirScope")(target_path, allow_file);
}

// ---- run, report, docs --------------------------------------------------------------------

py::list word_list(py::object words) {
    // A single text is one word, not a sequence of letters.
    if (py::isinstance<py::str>(words)) {
        py::list one;
        one.append(words);
        return one;
    }
    return py::list(words);
}

py::object run(py::object runner_args, py::object plugins) {
    return py::module_::import("pytest").attr("main")(word_list(runner_args),
                                                      py::arg("plugins") = plugins);
}

py::object main_with(py::object path, py::args args, py::kwargs kwargs) {
    py::object scope = switch_test_dir(path, py::bool_(true));
    scope.attr("__enter__")();
    py::object result;
    try {
        result = cmd_module().attr("run")(*args, **kwargs);
    } catch (py::error_already_set &) {
        leave_dir(scope, py::none(), py::none(), py::none());
        throw;
    }
    leave_dir(scope, py::none(), py::none(), py::none());
    return result;
}

// Allure's server answers a taken port with a Java stack trace and exit status 0.
bool port_is_free(py::handle port) {
    py::object probe = py::module_::import("socket").attr("socket")();
    try {
        probe.attr("bind")(py::make_tuple("", port));
    } catch (py::error_already_set &error) {
        probe.attr("close")();
        if (!error.matches(PyExc_OSError)) {
            throw;
        }
        return false;
    }
    probe.attr("close")();
    return true;
}

py::object report(py::object show, py::object runner_args, py::object plugins) {
    py::object config =
        py::module_::import("_pytest.config")
            .attr("_prepareconfig")(word_list(runner_args), py::arg("plugins") = plugins);
    py::object lumox_settings = py::module_::import("lumox.settings").attr("lumox");
    py::object allure = lumox_settings.attr("allure_path");
    py::object html_dir = lumox::cmd::expanded_path(lumox_settings.attr("allure_report"));
    py::object allure_dir = config.attr("getoption")("allure_report_dir", py::none());
    if (!py::bool_(allure_dir)) {
        py::print("出错： allure-pytest似乎未启用");
        return py::none();
    }
    allure_dir = lumox::cmd::expanded_path(allure_dir);
    if (!py::bool_(path_of(allure_dir).attr("exists")())) {
        py::print("出错：allure结果不存在，请执行用例生成结果");
        return py::none();
    }
    const std::string command = to_str(allure) + " generate " + to_str(allure_dir) + "  -o " +
                                to_str(html_dir) + " --clean";
    py::print("执行命令: ", command);
    auto generated = lumox::cmd::run_tool(
        allure, {py::str("generate"), allure_dir, py::str("-o"), html_dir, py::str("--clean")});
    if (!generated || *generated != 0) {
        if (generated) {
            py::print("生成HTML测试报告失败： 请确认allure安装成功，并添加到环境变量中！");
        }
        return py::none();
    }
    if (py::bool_(show) || py::bool_(lumox_settings.attr("allure_show"))) {
        // The notice goes out before the report is opened (opening serves until stopped).
        py::object port = lumox_settings.attr("allure_local_port");
        if (!port_is_free(port)) {
            py::print("出错：端口 " + to_str(port) +
                      " 已被占用（[lumox] allure_local_port），无法打开报告");
            return py::none();
        }
        py::module_::import("lumox.sender").attr("send_report")(lumox_settings.attr("allure_url"));
        const auto served =
            lumox::cmd::run_tool(allure, {py::str("open"), html_dir, py::str("-p"), py::str(port)});
        return py::bool_(served && *served == 0);
    }
    return py::bool_(true);
}

// Collection as a run would do it, and nothing else: the case files' problems, which the
// collectors record while a check is on (see broken_files.hpp), one per line.
// The list the collectors add to, on the package while the check runs.
struct CheckScope {
    py::module_ package = py::module_::import("lumox");
    py::list problems;
    CheckScope() { package.attr(lumox::py_helpers::kCheckProblemsAttr) = problems; }
    ~CheckScope() {
        if (PyObject_DelAttrString(package.ptr(), lumox::py_helpers::kCheckProblemsAttr) != 0) {
            PyErr_Clear();
        }
    }
    CheckScope(const CheckScope &) = delete;
    CheckScope &operator=(const CheckScope &) = delete;
};

int check(py::object paths) {
    CheckScope scope;
    py::list args;
    for (const char *word :
         {"--collect-only", "-p", "no:terminal", "-p", "no:cacheprovider", "-p", "no:xdist"}) {
        args.append(word);
    }
    for (py::handle path : paths) {
        args.append(path);
    }
    const int exit_code = py::module_::import("pytest").attr("main")(args).cast<int>();
    const py::list &problems = scope.problems;
    for (py::handle problem : problems) {
        py::print(problem);
    }
    if (py::len(problems) != 0) {
        py::print("lumox check: " + std::to_string(py::len(problems)) +
                  " case(s) or file(s) with mistakes");
        return 1;
    }
    // 0: collected; 5: no case at all. pytest's usage errors (a path that is not there)
    // come with their message; anything else failed outside the case files.
    if (exit_code == 0 || exit_code == 5) {
        py::print("lumox check: no mistakes found");
        return 0;
    }
    if (exit_code != 4) {
        py::print("lumox check: collection stopped with pytest's status " +
                  std::to_string(exit_code) +
                  " outside the case files (a test module that does not import?); "
                  "pytest --collect-only shows why");
    }
    return 1;
}

void docs(py::object kw_type, py::args, py::kwargs) {
    py::module_::import("lumox.actlib")
        .attr("get_class_by_type")(py::arg("kw_type") = kw_type)
        .attr("print_key_doc")();
    // The rows the workbook runner carries out itself belong to every library's cases.
    std::string text = "工作簿的行关键字（由用例执行器执行）\n====================\n";
    for (const lumox::core::RunnerKeyword *keyword : lumox::core::kRunnerKeywords) {
        text += lumox::core::runner_doc(*keyword) + "\n--------------------\n";
    }
    py::print(py::str(text), py::arg("end") = "");
}

// The path of this module's own file (its directory is the package's).
py::object own_file_path() {
    py::object found = py::module_::import("importlib.util").attr("find_spec")("lumox.cmd");
    return py::str(found.attr("origin"));
}

void define_module(py::module_ &m) {
    m.attr("logger") = logger().object();
    m.attr("file_path") = own_file_path();
    py::module_::import("lumox.settings");
    m.attr("sender") = py::module_::import("lumox.sender");

    py::dict guard_ns;
    guard_ns["__call__"] = method(&guarded_call, "__call__", py::arg("self"));
    make_class(m, "PytestIniGuard", py::make_tuple(), guard_ns,
               "An operation that makes sure pytest.ini exists in the working directory (from "
               "the packaged template, with the settings reloaded) before it runs.");
    define_dir_scope(m);

    m.def("write_pytest_ini", &write_pytest_ini, py::arg("func"),
          "The operation func, creating pytest.ini from the packaged template first when the "
          "working directory has none.");
    m.def("switch_test_dir", &switch_test_dir, py::arg("target_path"),
          py::arg("allow_file") = false, lumox::core::kSwitchTestDirDescription);
    m.def("start", &lumox::cmd::start, py::arg("name"), py::arg("kw_type") = "all",
          lumox::core::kStartDescription);
    m.def("run", &run, py::arg("runner_args") = py::tuple(), py::arg("plugins") = py::none(),
          lumox::core::kRunDescription);
    m.def("report", &report, py::arg("s") = false, py::arg("runner_args") = py::tuple(),
          py::arg("plugins") = py::none(), lumox::core::kReportDescription);
    m.def("check", &check, py::arg("paths"),
          "Collects the cases of `paths` without running them and prints the problems of "
          "their files; 0 when there are none, else 1.");
    m.def("docs", &docs, py::arg("kw_type") = "all", lumox::core::kDocsDescription);
    m.def("main_with", &main_with, py::arg("path"),
          "Runs the tests with `path` (a directory, or a file's directory) as the working "
          "directory; further arguments go to run. The previous directory is restored after.");
    for (const char *name : {"run", "report"}) {
        m.attr(name) = write_pytest_ini(m.attr(name));
    }

    py::module_ pytest = py::module_::import("pytest");
    if (!py::hasattr(pytest, "main_with") || pytest.attr("main_with").is_none()) {
        pytest.attr("main_with") = m.attr("main_with");
    }
}

} // namespace

PYBIND11_MODULE(cmd, m) {
    m.doc() = "The operations of the lumox command: start, run, report, docs, and main_with.";
    lumox::py_helpers::init_module([&] { define_module(m); });
}

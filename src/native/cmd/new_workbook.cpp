#include "new_workbook.hpp"

#include "core/case_files.hpp"
#include "core/runner_keywords.hpp"
#include "native/common/errors.hpp"
#include "native/common/pylog.hpp"
#include "package_data.hpp"

#include <string>

namespace lumox::cmd {

namespace {

using py_helpers::raise_error;
using py_helpers::to_repr;
using py_helpers::to_str;

// What a keyword does, in one line: the summary it was declared with, or for a tester's
// own keyword written in Python the first line of its docstring that is neither the
// "关键字：" label nor a ":param" line.
std::string summary_of(py::handle method) {
    if (py::isinstance<py::dict>(py::getattr(method, "declaration", py::none()))) {
        const std::string summary = to_str(method.attr("declaration")["summary"]);
        return summary.substr(0, summary.find('\n'));
    }
    py::object doc = py::getattr(method, "__doc__", py::none());
    if (doc.is_none()) {
        return "";
    }
    for (py::handle raw :
         py::module_::import("inspect").attr("cleandoc")(doc).attr("splitlines")()) {
        const std::string line = to_str(py::str(raw).attr("strip")());
        if (!line.empty() && line.rfind("关键字", 0) != 0 && line.rfind(":param", 0) != 0) {
            return line;
        }
    }
    return "";
}

// "locator, force=False": the arguments a row gives, in column order, with their defaults.
std::string parameters_of(py::handle method) {
    py::module_ inspect = py::module_::import("inspect");
    py::object signature;
    try {
        signature = inspect.attr("signature")(method);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) {
            throw;
        }
        return "";
    }
    py::object empty = inspect.attr("Parameter").attr("empty");
    py::object var_positional = inspect.attr("Parameter").attr("VAR_POSITIONAL");
    py::object var_keyword = inspect.attr("Parameter").attr("VAR_KEYWORD");
    std::string text;
    for (py::handle param : signature.attr("parameters").attr("values")()) {
        const std::string name = to_str(param.attr("name"));
        py::object kind = param.attr("kind");
        if (name == "self" || kind.equal(var_positional) || kind.equal(var_keyword)) {
            continue;
        }
        text += (text.empty() ? "" : ", ") + name;
        py::object fallback = param.attr("default");
        if (!fallback.is(empty)) {
            // Settings markers and kinds read best by their value ("chrome", "not set").
            if (py::isinstance(fallback, py::module_::import("enum").attr("Enum"))) {
                fallback = fallback.attr("value");
            }
            text +=
                "=" + (py::isinstance<py::str>(fallback) ? to_str(fallback) : to_repr(fallback));
        }
    }
    return text;
}

void add_keyword_rows(py::object sheet, py::object keyword_class) {
    for (py::handle name : keyword_class.attr("all_keyword")()) {
        py::object method = py::getattr(keyword_class, ("key_" + to_str(name)).c_str(), py::none());
        py::list row;
        row.append(name);
        // Beyond the name the drop-down offers: what the keyword does and what it takes.
        row.append(summary_of(method));
        row.append(parameters_of(method));
        sheet.attr("append")(row);
    }
    for (const lumox::core::RunnerKeyword *keyword : lumox::core::kRunnerKeywords) {
        py::list row;
        row.append(keyword->name);
        row.append(keyword->summary);
        row.append(core::runner_arguments(*keyword));
        sheet.attr("append")(row);
    }
}

// The drop-down of the keyword column: the names in column A of "_key_word", below its
// header (names a tester adds at the end are offered too).
py::object attach_keyword_validation(py::object sheet) {
    py::object validation =
        py::module_::import("openpyxl.worksheet.datavalidation")
            .attr("DataValidation")(py::arg("type") = "list",
                                    py::arg("formula1") = "=_key_word!$A$2:$A$1048576",
                                    py::arg("allow_blank") = true);
    validation.attr("errorStyle") = "warning";
    validation.attr("error") = "未知的关键字，可能会引起错误";
    validation.attr("prompt") = "可用从下拉菜单中选择";
    validation.attr("promptTitle") = "关键字";
    // Without these Excel keeps both to itself: no prompt, no warning for an unknown name.
    validation.attr("showErrorMessage") = true;
    validation.attr("showInputMessage") = true;
    sheet.attr("add_data_validation")(validation);
    return validation;
}

} // namespace

void start(py::object name, py::object kw_type) {
    if (!py::isinstance<py::str>(name)) {
        py_helpers::raise_argument_type("start()", "name", "str", name);
    }
    const std::string text = to_str(name);
    if (auto problem = core::case_name_problem(text)) {
        raise_error(PyExc_ValueError,
                    "cannot create a case named " + to_repr(name) + ": " + *problem);
    }
    const std::string file_name = "test_" + text + ".xlsx";
    // lexists: a symbolic link counts even when it points nowhere, or the save would write
    // through it to a file outside the folder.
    if (py::bool_(py::module_::import("os.path").attr("lexists")(file_name))) {
        raise_error(PyExc_FileExistsError,
                    file_name + " already exists: remove it or choose another name");
    }
    py::object workbook =
        py::module_::import("openpyxl").attr("load_workbook")(data_file("template.xlsx"));
    py::object keyword_class =
        py::module_::import("lumox.actlib").attr("get_class_by_type")(py::arg("kw_type") = kw_type);
    add_keyword_rows(workbook.attr("__getitem__")("_key_word"), keyword_class);
    py::object sheet = workbook.attr("__getitem__")("active");
    py::object validation = attach_keyword_validation(sheet);
    sheet.attr("title") = name;
    validation.attr("add")("C1:C1048576");
    workbook.attr("save")(file_name);
    py::print("已创建新的测试用例文件：" + file_name);
}

} // namespace lumox::cmd

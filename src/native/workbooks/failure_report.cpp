#include "failure_report.hpp"

#include "keyword_class.hpp"
#include "native/common/case_report.hpp"
#include "native/common/data_rows.hpp"
#include "native/common/pylog.hpp"
#include "native/common/secrets.hpp"
#include "workbook_loader.hpp"

#include <string>

namespace lumox::workbooks {

namespace {

using lumox::py_helpers::error_line;
using lumox::py_helpers::ReportLines;
using lumox::py_helpers::to_repr;

py::object *report_class = nullptr; // WorkbookCaseFailure, kept for the process

} // namespace

void define_failure_report(py::module_ &module) {
    report_class = new py::object(lumox::py_helpers::define_case_report_class(
        module, "WorkbookCaseFailure",
        "The report of a failed workbook case (lines, and reprcrash for summaries)."));
}

py::object failure_report(py::handle item, py::handle excinfo, const CaseFailure &failure) {
    const std::string name = to_repr(item.attr("name"));
    const std::string file = py::str(py::tuple(item.attr("location"))[0]).cast<std::string>();
    std::string where = file + ", sheet " + to_repr(item.attr("sheet"));
    const std::string error = error_line(failure.error);
    ReportLines lines;
    // The summary line leads with the place: a long error message is cut off at its end.
    std::string crash;
    if (failure.step.is_none()) {
        lines.add("Workbook case " + name + " could not create its keyword object (" + where + ")");
        lines.add("keyword class: [lumox] keyword_type = " + to_repr(keyword_type_setting()));
        crash = "keyword object: " + error;
    } else {
        const py::handle step = failure.step;
        const std::string row = py::str(step["row"]).cast<std::string>();
        const std::string keyword = py::str(step["keyword"]).cast<std::string>();
        const std::string description = py::str(step["description"]).cast<std::string>();
        if (step.contains("sheet")) {
            where = file + ", sheet " + to_repr(step["sheet"]) + ", run by case " + name;
        }
        lines.add("Workbook case " + name + " failed at row " + row + " (" + where + ")");
        py::object data = item.attr("_lumox_data");
        if (!data.is_none()) {
            lines.add(lumox::py_helpers::describe_data_row(
                data, py::str(item.attr("_lumox_data_origin")).cast<std::string>()));
        }
        lines.add("step " + step_label(step) + (description.empty() ? "" : ": " + description));
        lines.add("keyword:   " + keyword, "    ");
        lines.add((failure.substituted ? "arguments: " : "arguments as written: ") +
                      to_repr(py_helpers::masked_keyword_args(step["keyword"], failure.args)),
                  "    ");
        if (!failure.page.is_none()) {
            for (py::handle line : failure.page) {
                lines.add(py::str(line).cast<std::string>(), "    ");
            }
        }
        crash =
            "row " + row + ", " + keyword + ": " + lumox::py_helpers::summary_line(failure.error);
    }
    lines.add("");
    lines.add(error, "", true);
    for (const std::string &note : lumox::py_helpers::error_notes(failure.error)) {
        lines.add(note, "", true);
    }
    return lumox::py_helpers::make_case_report(*report_class, item, excinfo, lines, py::none(),
                                               crash);
}

} // namespace lumox::workbooks

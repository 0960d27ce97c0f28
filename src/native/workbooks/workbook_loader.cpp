#include "workbook_loader.hpp"

#include "native/common/broken_files.hpp"
#include "native/common/case_report.hpp"

#include <string>

namespace lumox::workbooks {

namespace {

constexpr py::ssize_t keyword_column = 2;        // C, 0-based
constexpr py::ssize_t first_argument_column = 3; // D

bool is_empty_cell(py::handle value) { return value.is_none(); }

// The keyword of a row: the cell's text without surrounding blanks ("" when none).
std::string keyword_of(py::handle cell) {
    if (is_empty_cell(cell)) {
        return {};
    }
    std::string text = py::str(cell).cast<std::string>();
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

py::object cell_at(const py::sequence &row, py::ssize_t column) {
    return column < static_cast<py::ssize_t>(py::len(row)) ? py::object(row[column])
                                                           : py::object(py::none());
}

py::str description_of(py::handle cell) {
    if (is_empty_cell(cell)) {
        return py::str("");
    }
    return py::str(cell).attr("strip")();
}

// Arguments: the cells from D to the last non-empty one, as they are typed (an empty cell
// in between is None; a cell holding an empty text is "").
py::tuple arguments_of(const py::sequence &row) {
    py::ssize_t end = static_cast<py::ssize_t>(py::len(row));
    while (end > first_argument_column && is_empty_cell(row[end - 1])) {
        --end;
    }
    const py::ssize_t count = end > first_argument_column ? end - first_argument_column : 0;
    py::tuple args(count);
    for (py::ssize_t i = 0; i < count; ++i) {
        args[i] = row[first_argument_column + i];
    }
    return args;
}

py::list read_steps(py::handle sheet) {
    // Read-only sheets trust the size the writing program recorded, which some get wrong;
    // forgetting it makes the reader walk every row the file holds.
    sheet.attr("reset_dimensions")();
    py::list steps;
    py::ssize_t row_number = 1;
    for (py::handle row_cells :
         sheet.attr("iter_rows")(py::arg("min_row") = 2, py::arg("values_only") = true)) {
        ++row_number;
        py::sequence row = py::reinterpret_borrow<py::sequence>(row_cells);
        std::string keyword = keyword_of(cell_at(row, keyword_column));
        if (keyword.empty()) {
            continue; // blank rows and notes
        }
        py::dict step;
        step["row"] = row_number;
        step["index"] = py::len(steps) + 1;
        step["number"] = cell_at(row, 0);
        step["description"] = description_of(cell_at(row, 1));
        step["keyword"] = py::str(keyword);
        step["args"] = arguments_of(row);
        steps.append(step);
    }
    return steps;
}

std::vector<CaseSheet> read_workbook(py::handle file_node) {
    // From memory: the reader then holds no file that a failure could leave open.
    py::object content =
        py::module_::import("io").attr("BytesIO")(file_node.attr("path").attr("read_bytes")());
    // data_only: a formula cell gives the value the spreadsheet program last computed.
    py::object workbook = py::module_::import("openpyxl")
                              .attr("load_workbook")(content, py::arg("read_only") = true,
                                                     py::arg("data_only") = true);
    std::vector<CaseSheet> cases;
    try {
        for (py::handle sheet : workbook.attr("worksheets")) {
            py::str title = sheet.attr("title");
            if (title.cast<std::string>() == keyword_list_sheet) {
                continue;
            }
            cases.push_back(CaseSheet{title, read_steps(sheet)});
        }
    } catch (py::error_already_set &) {
        workbook.attr("close")();
        throw;
    }
    workbook.attr("close")();
    return cases;
}

} // namespace

std::string step_label(py::handle step) {
    py::object number = step["number"];
    if (number.is_none()) {
        return py::str(step["index"]).cast<std::string>();
    }
    if (PyFloat_Check(number.ptr()) && number.attr("is_integer")().cast<bool>()) {
        number = py::int_(number);
    }
    std::string label = py::str(number).attr("strip")().cast<std::string>();
    return label.empty() ? py::str(step["index"]).cast<std::string>() : label;
}

std::string step_title(py::handle step) {
    std::string description = py::str(step["description"]).cast<std::string>();
    return step_label(step) + " " +
           (description.empty() ? py::str(step["keyword"]).cast<std::string>() : description);
}

std::vector<CaseSheet> load_case_sheets(py::handle file_node) {
    try {
        return read_workbook(file_node);
    } catch (py::error_already_set &error) {
        // Whatever a damaged file makes the reader raise (not a zip archive, missing
        // parts, broken XML, unreadable file) means the same to a tester.
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        lumox::py_helpers::raise_collect_error(
            file_node,
            py::str(file_node.attr("nodeid")).cast<std::string>() +
                ": cannot be read as a workbook: " + lumox::py_helpers::error_line(error.value()));
    }
}

} // namespace lumox::workbooks

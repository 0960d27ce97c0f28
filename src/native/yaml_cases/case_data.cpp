#include "case_data.hpp"

#include "core/ascii_text.hpp"
#include "native/common/case_report.hpp"
#include "native/common/data_rows.hpp"
#include "native/common/pylog.hpp"

#include <string>

namespace lumox::yaml_cases {

namespace {

using lumox::py_helpers::DataProblem;
using lumox::py_helpers::is_template_name;
using lumox::py_helpers::rows_under_header;
using lumox::py_helpers::to_repr;
using lumox::py_helpers::to_str;

// A data row past this many would be a run of its own, not a case's data.
constexpr std::size_t kDataRowsLimit = 10'000;

py::list csv_rows(py::handle path) {
    py::object file =
        py::module_::import("builtins")
            .attr("open")(path, "r", py::arg("encoding") = "utf-8-sig", py::arg("newline") = "");
    py::list rows;
    try {
        py::object reader = py::module_::import("csv").attr("reader")(file);
        for (py::handle cells : reader) {
            rows.append(py::make_tuple(reader.attr("line_num"),
                                       py::tuple(py::reinterpret_borrow<py::object>(cells))));
        }
    } catch (py::error_already_set &) {
        file.attr("close")();
        throw;
    }
    file.attr("close")();
    return rows;
}

py::list sheet_rows(py::handle path, py::handle sheet) {
    py::object workbooks = py::module_::import("lumox.workbooks");
    py::bytes data = py::module_::import("pathlib").attr("Path")(path).attr("read_bytes")();
    py::object sheets = workbooks.attr("_sheet_rows")(data, true, py::arg("whole_rows") = true);
    if (sheets.is_none()) {
        sheets = workbooks.attr("_sheet_rows")(data, false);
    }
    std::vector<std::string> titles;
    for (py::handle entry : sheets) {
        py::tuple titled = py::reinterpret_borrow<py::tuple>(entry);
        titles.push_back(to_str(titled[0]));
        if (sheet.is_none() || to_str(titled[0]) == to_str(sheet)) {
            return titled[1];
        }
    }
    std::string names;
    for (const std::string &title : titles) {
        names += (names.empty() ? "" : ", ") + to_repr(py::str(title));
    }
    throw DataProblem{sheet.is_none()
                          ? "has no sheet"
                          : "has no sheet " + to_repr(sheet) + " (its sheets: " + names + ")"};
}

// A list of mappings (inline, or read from JSON or YAML): the rows as they are.
std::vector<std::pair<std::size_t, py::dict>> mapping_rows(py::handle value) {
    if (!PyList_Check(value.ptr())) {
        throw DataProblem{"must be a list of mappings of column to value, got " +
                          to_str(py::type::of(value).attr("__name__"))};
    }
    std::vector<std::pair<std::size_t, py::dict>> found;
    std::size_t number = 0;
    for (py::handle row : value) {
        ++number;
        if (!PyDict_Check(row.ptr())) {
            throw DataProblem{"row " + std::to_string(number) +
                              " must be a mapping of column to value, got " + to_repr(row)};
        }
        found.emplace_back(number, py::reinterpret_borrow<py::dict>(row));
    }
    return found;
}

} // namespace

std::vector<DataRow> read_data_rows(py::handle parameters, py::handle case_file,
                                    std::vector<std::string> &problems, const std::string &where) {
    std::string source = "parameters";
    std::vector<std::pair<std::size_t, py::dict>> rows;
    try {
        py::object file = py::none();
        py::object sheet = py::none();
        if (PyUnicode_Check(parameters.ptr())) {
            file = py::reinterpret_borrow<py::object>(parameters);
        } else if (PyDict_Check(parameters.ptr())) {
            py::dict settings = py::reinterpret_borrow<py::dict>(parameters);
            for (auto [key, value] : settings) {
                if (to_str(key) != "file" && to_str(key) != "sheet") {
                    throw DataProblem{"unknown key " + to_repr(key) +
                                      " (a data file is given by file and, for a workbook, sheet)"};
                }
            }
            if (!settings.contains("file") ||
                !PyUnicode_Check(py::object(settings["file"]).ptr())) {
                throw DataProblem{"file must be the path of a data file"};
            }
            file = settings["file"];
            if (settings.contains("sheet")) {
                sheet = py::str(py::object(settings["sheet"]));
            }
        }
        if (file.is_none()) {
            rows = mapping_rows(parameters);
        } else {
            source = to_str(file);
            py::object path =
                py::module_::import("pathlib").attr("Path")(case_file).attr("parent").attr(
                    "joinpath")(file);
            if (!path.attr("is_file")().cast<bool>()) {
                throw DataProblem{"no such file: " + to_str(path)};
            }
            const std::string suffix = lumox::core::lower_ascii(to_str(path.attr("suffix")));
            if (suffix == ".csv") {
                rows = rows_under_header(csv_rows(path), true);
            } else if (suffix == ".xlsx") {
                rows = rows_under_header(sheet_rows(path, sheet), false);
            } else if (suffix == ".json" || suffix == ".yaml" || suffix == ".yml") {
                py::object text = path.attr("read_text")(py::arg("encoding") = "utf-8-sig");
                rows = mapping_rows(suffix == ".json"
                                        ? py::module_::import("json").attr("loads")(text)
                                        : py::module_::import("yaml").attr("safe_load")(text));
            } else {
                throw DataProblem{"is no data file lumox reads (.csv, .json, .yaml, .yml or "
                                  ".xlsx)"};
            }
        }
    } catch (const DataProblem &problem) {
        problems.push_back(where + ": " + source + ": " + problem.message);
        return {};
    } catch (py::error_already_set &error) {
        // An unreadable file: its own error says what is wrong with it.
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        problems.push_back(where + ": " + source +
                           ": cannot be read: " + lumox::py_helpers::error_line(error.value()));
        return {};
    }
    if (rows.empty()) {
        problems.push_back(where + ": " + source + ": has no rows of data");
        return {};
    }
    if (rows.size() > kDataRowsLimit) {
        problems.push_back(where + ": " + source + ": holds " + std::to_string(rows.size()) +
                           " rows, more than " + std::to_string(kDataRowsLimit));
        return {};
    }
    std::vector<std::string> ids;
    try {
        ids = lumox::py_helpers::data_row_ids(rows);
    } catch (const DataProblem &problem) {
        problems.push_back(where + ": " + source + ": " + problem.message);
        return {};
    }
    std::vector<DataRow> found;
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const auto &[number, values] = rows[index];
        const std::string origin = source + ", row " + std::to_string(number);
        for (auto [column, value] : values) {
            if (!is_template_name(column)) {
                problems.push_back(where + ": " + origin + ": the column " + to_repr(column) +
                                   " is no name a template can use (letters, digits and _, "
                                   "not starting with a digit)");
                return {};
            }
        }
        found.push_back(DataRow{values, origin, ids[index]});
    }
    return found;
}

} // namespace lumox::yaml_cases

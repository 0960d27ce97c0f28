#include "case_data.hpp"

#include "core/ascii_text.hpp"
#include "native/common/case_report.hpp"
#include "native/common/pylog.hpp"

#include <map>
#include <set>
#include <string>

namespace lumox::yaml_cases {

namespace {

using lumox::py_helpers::to_repr;
using lumox::py_helpers::to_str;

// A data row past this many would be a run of its own, not a case's data.
constexpr std::size_t kDataRowsLimit = 10'000;
constexpr std::size_t kIdPartLength = 30;

// A mistake in the data: the message is the problem itself, the reader adds where.
struct DataProblem {
    std::string message;
};

// A column a template reaches as `{{ name }}`: a Python identifier.
bool is_template_name(py::handle column) {
    return PyUnicode_Check(column.ptr()) && py::str(column).attr("isidentifier")().cast<bool>() &&
           !py::module_::import("keyword").attr("iskeyword")(column).cast<bool>();
}

// CSV cells are text; the whole numbers and decimals among them (no leading zero, so a
// code such as 007 stays text) and the words true and false become values of their kind.
py::object csv_value(const std::string &text) {
    const std::size_t digits_from = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t point = text.find('.');
    const auto all_digits = [&](std::size_t from, std::size_t to) {
        if (from >= to) {
            return false;
        }
        for (std::size_t i = from; i < to; ++i) {
            if (!(text[i] >= '0' && text[i] <= '9')) {
                return false;
            }
        }
        return true;
    };
    const std::size_t whole_end = point == std::string::npos ? text.size() : point;
    const bool whole_part = all_digits(digits_from, whole_end) &&
                            (whole_end - digits_from == 1 || text[digits_from] != '0');
    if (whole_part && point == std::string::npos) {
        return py::int_(py::str(text));
    }
    if (whole_part && all_digits(point + 1, text.size())) {
        return py::float_(py::str(text));
    }
    if (text == "true" || text == "false") {
        return py::bool_(text == "true");
    }
    return py::str(text);
}

// Rows of a header and values (CSV, a sheet): each row a mapping of the header's names.
// `rows` are (line or row number, cells), the header first.
std::vector<std::pair<std::size_t, py::dict>> rows_under_header(const py::list &rows,
                                                                bool from_csv) {
    std::vector<std::pair<std::size_t, py::dict>> found;
    if (py::len(rows) == 0) {
        throw DataProblem{"has no header row"};
    }
    py::tuple first = rows[0];
    py::list header;
    std::set<std::string> seen;
    for (py::size_t column = 0; column < py::len(first[1]); ++column) {
        py::object name = py::tuple(first[1])[column];
        if (!from_csv && name.is_none()) {
            break; // the sheet's used columns end at the first empty header cell
        }
        const std::string text = name.is_none() ? "" : std::string(lumox::core::strip_blanks(to_str(name)));
        if (text.empty() || !seen.insert(text).second) {
            throw DataProblem{"row " + to_str(first[0]) + ", column " +
                              std::to_string(column + 1) + ": " +
                              (text.empty() ? std::string("the header is empty")
                                            : "the header " + to_repr(py::str(text)) +
                                                  " stands twice")};
        }
        header.append(py::str(text));
    }
    for (py::size_t index = 1; index < py::len(rows); ++index) {
        py::tuple row = rows[index];
        py::tuple cells(row[1]);
        const std::string number = to_str(row[0]);
        bool blank = true;
        for (py::handle cell : cells) {
            blank = blank && (cell.is_none() || lumox::core::strip_blanks(to_str(cell)).empty());
        }
        if (blank) {
            continue; // a blank line or row between the rows
        }
        if (py::len(cells) > py::len(header)) {
            bool extra = false;
            for (py::size_t column = py::len(header); column < py::len(cells); ++column) {
                extra = extra || !(cells[column].is_none() || to_str(cells[column]).empty());
            }
            if (extra) {
                throw DataProblem{"row " + number + ": " + std::to_string(py::len(cells)) +
                                  " values for " + std::to_string(py::len(header)) +
                                  " columns (" + to_str(py::str(", ").attr("join")(header)) +
                                  ")"};
            }
        }
        if (from_csv && py::len(cells) < py::len(header)) {
            throw DataProblem{"row " + number + ": " + std::to_string(py::len(cells)) +
                              " values for " + std::to_string(py::len(header)) + " columns (" +
                              to_str(py::str(", ").attr("join")(header)) + ")"};
        }
        py::dict values;
        for (py::size_t column = 0; column < py::len(header); ++column) {
            py::object cell = column < py::len(cells) ? py::object(cells[column]) : py::none();
            if (cell.is_none()) {
                values[header[column]] = py::str("");
            } else if (from_csv) {
                values[header[column]] = csv_value(to_str(cell));
            } else {
                values[header[column]] = cell;
            }
        }
        found.emplace_back(static_cast<std::size_t>(row[0].cast<py::ssize_t>()), values);
    }
    return found;
}

py::list csv_rows(py::handle path) {
    py::object file = py::module_::import("builtins")
                          .attr("open")(path, "r", py::arg("encoding") = "utf-8-sig",
                                        py::arg("newline") = "");
    py::list rows;
    try {
        py::object reader = py::module_::import("csv").attr("reader")(file);
        for (py::handle cells : reader) {
            rows.append(py::make_tuple(reader.attr("line_num"), py::tuple(py::reinterpret_borrow<py::object>(cells))));
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
    throw DataProblem{sheet.is_none() ? "has no sheet"
                                      : "has no sheet " + to_repr(sheet) + " (its sheets: " +
                                            names + ")"};
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

bool is_secret_column(const std::string &column) {
    const std::string name = lumox::core::lower_ascii(column);
    for (const char *word : {"password", "passwd", "secret", "token", "apikey", "api_key"}) {
        if (name.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The readable part of a value for an id: scalars as text, cut short.
std::string id_part(py::handle value) {
    if (!(PyUnicode_Check(value.ptr()) || PyLong_Check(value.ptr()) ||
          PyFloat_Check(value.ptr()) || value.is_none())) {
        return {};
    }
    std::string text(lumox::core::strip_blanks(to_str(value)));
    for (char &c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    if (text.size() > kIdPartLength) {
        std::size_t cut = kIdPartLength;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut; // never inside a character
        }
        text = text.substr(0, cut) + "...";
    }
    return text;
}

std::string row_id(const py::dict &values, std::size_t number) {
    if (values.contains("id")) {
        const std::string id = id_part(values["id"]);
        if (!id.empty()) {
            return id;
        }
    }
    std::string id;
    for (auto [column, value] : values) {
        if (is_secret_column(to_str(column))) {
            continue; // ids show in every log and report
        }
        std::string part = id_part(value);
        id += (id.empty() ? "" : "-") + (part.empty() ? to_str(column) : part);
    }
    return id.empty() ? "row" + std::to_string(number) : id;
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
            if (!settings.contains("file") || !PyUnicode_Check(py::object(settings["file"]).ptr())) {
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
            py::object path = py::module_::import("pathlib")
                                  .attr("Path")(case_file)
                                  .attr("parent")
                                  .attr("joinpath")(file);
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
        problems.push_back(where + ": " + source + ": cannot be read: " +
                           lumox::py_helpers::error_line(error.value()));
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
    std::vector<DataRow> found;
    std::map<std::string, int> ids;
    for (auto &[number, values] : rows) {
        const std::string origin = source + ", row " + std::to_string(number);
        bool sound = true;
        for (auto [column, value] : values) {
            if (!is_template_name(column)) {
                problems.push_back(where + ": " + origin + ": the column " + to_repr(column) +
                                   " is no name a template can use (letters, digits and _, "
                                   "not starting with a digit)");
                sound = false;
            }
        }
        if (!sound) {
            return {};
        }
        std::string id = row_id(values, number);
        if (++ids[id] > 1) {
            id += "-row" + std::to_string(number); // the same values twice stay two items
        }
        found.push_back(DataRow{values, origin, id});
    }
    return found;
}

std::string describe_data_row(py::handle values, const std::string &origin) {
    std::string shown;
    for (auto [column, value] : py::reinterpret_borrow<py::dict>(values)) {
        const std::string name = to_str(column);
        std::string text = is_secret_column(name) ? "'***'" : to_repr(value);
        if (text.size() > 80) {
            text = text.substr(0, 80) + "...";
        }
        shown += (shown.empty() ? "" : ", ") + name + "=" + text;
    }
    return "data: " + origin + " (" + shown + ")";
}

} // namespace lumox::yaml_cases

#include "data_rows.hpp"

#include "core/ascii_text.hpp"
#include "core/utf8.hpp"
#include "pylog.hpp"

#include <map>
#include <set>

namespace lumox::py_helpers {

namespace {

constexpr std::size_t kIdPartLength = 30;

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

// The readable part of a value for an id: scalars as text, cut short.
std::string id_part(py::handle value) {
    if (!(PyUnicode_Check(value.ptr()) || PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr()) ||
          value.is_none())) {
        return {};
    }
    std::string text(lumox::core::strip_blanks(to_str(value)));
    for (char &c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    return lumox::core::cut_utf8(text, kIdPartLength);
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
        if (is_secret_name(to_str(column))) {
            continue; // ids show in every log and report
        }
        std::string part = id_part(value);
        id += (id.empty() ? "" : "-") + (part.empty() ? to_str(column) : part);
    }
    return id.empty() ? "row" + std::to_string(number) : id;
}

} // namespace

// Rows of a header and values (CSV, a sheet): each row a mapping of the header's names.
// `rows` are (line or row number, cells), the header first.
std::vector<std::pair<std::size_t, py::dict>> rows_under_header(const py::list &rows,
                                                                bool text_cells) {
    std::vector<std::pair<std::size_t, py::dict>> found;
    if (py::len(rows) == 0) {
        throw DataProblem{"has no header row"};
    }
    py::tuple first = rows[0];
    // Row 1 (line 1) holds the names: a sheet whose first row is empty has none.
    if (first[0].cast<std::size_t>() != 1) {
        throw DataProblem{"row 1 must hold the column names, and is empty"};
    }
    py::list header;
    std::set<std::string> seen;
    for (py::size_t column = 0; column < py::len(first[1]); ++column) {
        py::object name = py::reinterpret_borrow<py::tuple>(first[1])[column];
        if (!text_cells && name.is_none()) {
            break; // the sheet's used columns end at the first empty header cell
        }
        const std::string text =
            name.is_none() ? "" : std::string(lumox::core::strip_blanks(to_str(name)));
        if (text.empty() || !seen.insert(text).second) {
            throw DataProblem{
                "row " + to_str(first[0]) + ", column " + std::to_string(column + 1) + ": " +
                (text.empty() ? std::string("the header is empty")
                              : "the header " + to_repr(py::str(text)) + " stands twice")};
        }
        header.append(py::str(text));
    }
    for (py::size_t index = 1; index < py::len(rows); ++index) {
        py::tuple row = rows[index];
        py::tuple cells = py::reinterpret_borrow<py::tuple>(row[1]);
        const std::string number = to_str(row[0]);
        bool blank = true;
        for (py::handle cell : cells) {
            blank = blank && (cell.is_none() || lumox::core::strip_blanks(to_str(cell)).empty());
        }
        if (blank) {
            continue; // a blank line or row between the rows
        }
        // A sheet's columns end at its first empty name, and what stands to the right of it
        // is notes; a CSV row is as wide as its header.
        if (text_cells && py::len(cells) > py::len(header)) {
            bool extra = false;
            for (py::size_t column = py::len(header); column < py::len(cells); ++column) {
                extra = extra || !(cells[column].is_none() || to_str(cells[column]).empty());
            }
            if (extra) {
                throw DataProblem{"row " + number + ": " + std::to_string(py::len(cells)) +
                                  " values for " + std::to_string(py::len(header)) + " columns (" +
                                  to_str(py::str(", ").attr("join")(header)) + ")"};
            }
        }
        if (text_cells && py::len(cells) < py::len(header)) {
            throw DataProblem{"row " + number + ": " + std::to_string(py::len(cells)) +
                              " values for " + std::to_string(py::len(header)) + " columns (" +
                              to_str(py::str(", ").attr("join")(header)) + ")"};
        }
        py::dict values;
        for (py::size_t column = 0; column < py::len(header); ++column) {
            py::object cell = column < py::len(cells) ? py::object(cells[column]) : py::none();
            if (cell.is_none()) {
                values[header[column]] = py::str("");
            } else if (text_cells) {
                values[header[column]] = csv_value(to_str(cell));
            } else {
                values[header[column]] = cell;
            }
        }
        found.emplace_back(row[0].cast<std::size_t>(), values);
    }
    return found;
}

bool is_template_name(py::handle column) {
    return PyUnicode_Check(column.ptr()) && py::str(column).attr("isidentifier")().cast<bool>() &&
           !py::module_::import("keyword").attr("iskeyword")(column).cast<bool>();
}

bool is_secret_name(const std::string &name) {
    const std::string lower = lumox::core::lower_ascii(name);
    for (const char *word : {"password", "passwd", "pwd", "secret", "token", "apikey", "api_key"}) {
        if (lower.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> data_row_ids(const std::vector<std::pair<std::size_t, py::dict>> &rows) {
    std::vector<std::string> ids;
    std::map<std::string, std::size_t> row_of_id;
    for (const auto &[number, values] : rows) {
        const std::string id = row_id(values, number);
        if (row_of_id.count(id) == 0) {
            row_of_id[id] = number;
            ids.push_back(id);
            continue;
        }
        if (values.contains("id") && !id_part(values["id"]).empty()) {
            throw DataProblem{"row " + std::to_string(number) + ": the id " + to_repr(py::str(id)) +
                              " is row " + std::to_string(row_of_id[id]) + "'s already"};
        }
        // The same values twice stay two items, told apart by their row.
        std::string unique = id + "-row" + std::to_string(number);
        for (int more = 2; row_of_id.count(unique) != 0; ++more) {
            unique = id + "-row" + std::to_string(number) + "-" + std::to_string(more);
        }
        row_of_id[unique] = number;
        ids.push_back(unique);
    }
    return ids;
}

std::string describe_data_row(py::handle values, const std::string &origin) {
    std::string shown;
    for (auto [column, value] : py::reinterpret_borrow<py::dict>(values)) {
        const std::string name = to_str(column);
        const std::string text =
            is_secret_name(name) ? "'***'" : lumox::core::cut_utf8(to_repr(value), 80);
        shown += (shown.empty() ? "" : ", ") + name + "=" + text;
    }
    return "data: " + origin + " (" + shown + ")";
}

} // namespace lumox::py_helpers

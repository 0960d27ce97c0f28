#include "workbook_loader.hpp"

#include "keyword_class.hpp"
#include "sheet_links.hpp"
#include "sheet_rows.hpp"

#include "core/suggestions.hpp"
#include "native/common/broken_files.hpp"
#include "native/common/case_report.hpp"
#include "native/common/pylog.hpp"

#include <map>
#include <new>
#include <optional>
#include <set>
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

// How many arguments a keyword takes: its required parameters and all of them (none
// when it takes any number).
struct Arity {
    std::size_t required = 0;
    std::optional<std::size_t> most;
};

// The keywords of the configured keyword class; none when the class cannot be loaded
// (its own error is reported when the cases run). Their argument counts are read only
// for `lumox check`.
std::map<std::string, Arity> known_keywords(bool with_arity) {
    std::map<std::string, Arity> keywords;
    try {
        py::object cls = keyword_class();
        py::object signature_of = py::module_::import("inspect").attr("signature");
        for (py::handle name : cls.attr("all_keyword")()) {
            Arity arity;
            if (with_arity) {
                py::object method = cls.attr(py::str("key_" + py::str(name).cast<std::string>()));
                // lumox's own keywords take (and ignore) further arguments; a tester's
                // `def key_x(self, *args)` takes any number.
                const bool own = py::hasattr(method, "keyword");
                arity.most = 0;
                bool first = true;
                for (py::handle param : signature_of(method).attr("parameters").attr("values")()) {
                    const std::string kind = py::str(param.attr("kind").attr("name"));
                    if (first) {
                        first = false; // self
                        continue;
                    }
                    if (kind == "VAR_POSITIONAL" && !own) {
                        arity.most.reset();
                    }
                    if (kind != "POSITIONAL_ONLY" && kind != "POSITIONAL_OR_KEYWORD") {
                        continue;
                    }
                    if (arity.most) {
                        ++*arity.most;
                    }
                    if (param.attr("default").is(param.attr("empty"))) {
                        ++arity.required;
                    }
                }
            }
            keywords[py::str(name).cast<std::string>()] = arity;
        }
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        keywords.clear();
    }
    return keywords;
}

std::string arguments_word(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

// The row's argument count against the keyword's: too few fail the row, more are dropped.
std::string arity_problem(const Arity &arity, std::size_t given) {
    if (given < arity.required) {
        return "takes " +
               std::string(arity.most && *arity.most == arity.required ? "" : "at least ") +
               arguments_word(arity.required) + " (D onwards), the row has " +
               std::to_string(given);
    }
    if (arity.most && given > *arity.most) {
        return "takes at most " + arguments_word(*arity.most) + " (D onwards), the row has " +
               std::to_string(given) + ": the others would be ignored";
    }
    return {};
}

// `checking`: `lumox check` runs, and a keyword the library lacks or a row with the wrong
// number of arguments (left to fail their row when the case runs) are problems of the
// case too.
py::list read_steps(const SheetRows &sheet, const std::map<std::string, Arity> &keywords,
                    bool checking, std::vector<std::string> &problems, const std::string &where) {
    py::list steps;
    for (const SheetRow &sheet_row : sheet.rows) {
        const py::ssize_t row_number = sheet_row.number;
        const py::sequence row = sheet_row.cells;
        std::string keyword = keyword_of(cell_at(row, keyword_column));
        if (row_number == 1) {
            // A sheet written without the header row would lose its first step.
            if (keywords.count(keyword) != 0) {
                problems.push_back(where +
                                   ": row 1 is the header row; steps start at row 2 "
                                   "(C1 holds the keyword '" +
                                   keyword +
                                   "': insert a header row such as 编号 | 描述 | 关键字 | 参数1 "
                                   "above it)");
            }
            continue;
        }
        if (keyword.empty()) {
            continue; // blank rows and notes
        }
        py::tuple args = arguments_of(row);
        const auto known = keywords.find(keyword);
        const bool runner_keyword =
            keyword == retry_keyword || keyword == use_data_keyword || keyword == run_sheet_keyword;
        if (checking && !keywords.empty() && known == keywords.end() && !runner_keyword) {
            std::vector<std::string> names;
            for (const auto &[name, arity] : keywords) {
                names.push_back(name);
            }
            const std::string hint =
                lumox::core::did_you_mean(lumox::core::closest_names(keyword, names));
            problems.push_back(where + ", row " + std::to_string(row_number) +
                               ": unknown keyword '" + keyword + "'" +
                               (hint.empty() ? "" : ", " + hint));
        } else if (checking && known != keywords.end()) {
            const std::string wrong = arity_problem(known->second, py::len(args));
            if (!wrong.empty()) {
                problems.push_back(where + ", row " + std::to_string(row_number) + ": '" + keyword +
                                   "' " + wrong);
            }
        }
        py::dict step;
        step["row"] = row_number;
        step["index"] = py::len(steps) + 1;
        step["number"] = cell_at(row, 0);
        step["description"] = description_of(cell_at(row, 1));
        step["keyword"] = py::str(keyword);
        step["args"] = args;
        steps.append(step);
    }
    return steps;
}

// Whether any sheet of the workbook file holds a formula: a look at the sheets' XML, far
// cheaper than reading the workbook a second time.
bool has_formulas(py::handle content) {
    py::object archive = py::module_::import("zipfile").attr("ZipFile")(content);
    bool found = false;
    for (py::handle name : archive.attr("namelist")()) {
        const std::string part = py::str(name).cast<std::string>();
        if (part.rfind("xl/worksheets/", 0) != 0 || part.find(".xml") == std::string::npos) {
            continue;
        }
        py::bytes xml = archive.attr("read")(name);
        if (py::bool_(xml.attr("__contains__")(py::bytes("<f>"))) ||
            py::bool_(xml.attr("__contains__")(py::bytes("<f ")))) {
            found = true;
            break;
        }
    }
    archive.attr("close")();
    return found;
}

// Keyword and argument cells whose formula has no value saved with it: the value reader
// sees them as empty, so a keyword would be skipped and an argument dropped. Problems go
// to the sheet they are on.
void check_formulas(py::bytes data, std::map<std::string, std::vector<std::string>> &problems,
                    const std::string &where) {
    py::module_ io = py::module_::import("io");
    if (!has_formulas(io.attr("BytesIO")(data))) {
        return;
    }
    py::module_ openpyxl = py::module_::import("openpyxl");
    py::object formulas = openpyxl.attr("load_workbook")(
        io.attr("BytesIO")(data), py::arg("read_only") = true, py::arg("data_only") = false);
    py::object values = openpyxl.attr("load_workbook")(
        io.attr("BytesIO")(data), py::arg("read_only") = true, py::arg("data_only") = true);
    py::object letter = py::module_::import("openpyxl.utils").attr("get_column_letter");
    py::object array_formula =
        py::module_::import("openpyxl.worksheet.formula").attr("ArrayFormula");
    for (py::handle sheet : formulas.attr("worksheets")) {
        py::str title = sheet.attr("title");
        if (title.cast<std::string>() == keyword_list_sheet) {
            continue;
        }
        py::object value_rows = values[title].attr("iter_rows")(py::arg("values_only") = true);
        py::object next = py::module_::import("builtins").attr("next");
        py::ssize_t row_number = 0;
        for (py::handle row : sheet.attr("iter_rows")(py::arg("values_only") = true)) {
            ++row_number;
            py::sequence saved =
                py::reinterpret_borrow<py::sequence>(next(value_rows, py::tuple()));
            py::sequence cells = py::reinterpret_borrow<py::sequence>(row);
            for (py::ssize_t column = keyword_column;
                 column < static_cast<py::ssize_t>(py::len(cells)); ++column) {
                py::object cell = cells[column];
                if (py::isinstance(cell, array_formula)) {
                    cell = cell.attr("text"); // an array formula: its text, as "=..."
                }
                if (!py::isinstance<py::str>(cell) || !cell_at(saved, column).is_none() ||
                    py::str(cell).cast<std::string>().rfind("=", 0) != 0) {
                    continue;
                }
                problems[title.cast<std::string>()].push_back(
                    where + ", sheet " + py_helpers::to_repr(title) + ": cell " +
                    py::str(letter(column + 1)).cast<std::string>() + std::to_string(row_number) +
                    " holds the formula " + py_helpers::to_repr(cell) +
                    " with no value saved: open and save the workbook in Excel or LibreOffice "
                    "(which store each formula's value), or type the value itself");
            }
        }
    }
    formulas.attr("close")();
    values.attr("close")();
}

WorkbookCases read_workbook(py::handle file_node) {
    const std::string where = py::str(file_node.attr("nodeid")).cast<std::string>();
    py::bytes data = file_node.attr("path").attr("read_bytes")();
    std::optional<WorkbookRows> workbook = read_rows_from_package(data, keyword_list_sheet);
    if (!workbook) {
        workbook = read_rows_with_openpyxl(data, keyword_list_sheet);
    }
    std::vector<CaseSheet> cases;
    std::map<std::string, std::vector<std::string>> problems;
    const bool checking = !lumox::py_helpers::check_problems().is_none();
    const std::map<std::string, Arity> keywords = known_keywords(checking);
    for (const SheetRows &sheet : workbook->sheets) {
        py::list steps =
            read_steps(sheet, keywords, checking, problems[sheet.title.cast<std::string>()],
                       where + ", sheet " + py_helpers::to_repr(sheet.title));
        cases.push_back(CaseSheet{sheet.title, steps, {}, {}});
    }
    if (workbook->formulas_without_values) {
        check_formulas(data, problems, where);
    }
    // A mistake on one sheet is that case's alone: the other sheets run.
    for (CaseSheet &sheet : cases) {
        for (const std::string &problem : problems[sheet.name.cast<std::string>()]) {
            sheet.problems += (sheet.problems.empty() ? "" : "\n") + problem;
        }
    }
    return link_sheets(std::move(cases), data, where);
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

WorkbookCases load_case_sheets(py::handle file_node) {
    try {
        return read_workbook(file_node);
    } catch (const WorkbookTooLarge &error) {
        lumox::py_helpers::raise_collect_error(
            file_node, py::str(file_node.attr("nodeid")).cast<std::string>() +
                           ": cannot be read as a workbook: " + error.what());
    } catch (const std::bad_alloc &) {
        // A small file whose parts expand beyond memory fails alone, not the whole run.
        lumox::py_helpers::raise_collect_error(
            file_node, py::str(file_node.attr("nodeid")).cast<std::string>() +
                           ": cannot be read as a workbook: it needs more memory than there is");
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

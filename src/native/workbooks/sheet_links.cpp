#include "sheet_links.hpp"

#include "sheet_rows.hpp"

#include "core/runner_keywords.hpp"
#include "core/suggestions.hpp"
#include "native/common/data_rows.hpp"
#include "native/common/pylog.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

namespace lumox::workbooks {

namespace {

using lumox::py_helpers::to_repr;
using lumox::py_helpers::to_str;

std::string keyword_in(py::handle step) { return to_str(step["keyword"]); }

std::string row_where(const std::string &sheet_where, py::handle step) {
    return sheet_where + ", row " + to_str(step["row"]);
}

// A cell that must hold a number as written: empty gives `fallback`; nothing when the
// cell holds no number of at least `least`.
std::optional<double> number_cell(py::handle args, std::size_t index, double fallback,
                                  double least) {
    py::tuple cells = py::reinterpret_borrow<py::tuple>(args);
    if (index >= cells.size() || cells[index].is_none() ||
        (PyUnicode_Check(cells[index].ptr()) && to_str(cells[index]).empty())) {
        return fallback;
    }
    py::object cell = cells[index];
    double number = least - 1;
    try {
        if (PyBool_Check(cell.ptr())) {
            return std::nullopt;
        }
        number = PyUnicode_Check(cell.ptr())
                     ? py::float_(py::str(cell).attr("strip")()).cast<double>()
                     : cell.cast<double>();
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) {
            throw;
        }
        return std::nullopt;
    } catch (const py::cast_error &) {
        return std::nullopt;
    }
    if (!(number >= least) || number > 1e6) {
        return std::nullopt;
    }
    return number;
}

// The condition of a retry: "<variable> == <text>", "!=" or "contains".
bool is_condition(const std::string &text) {
    for (const char *op : {" == ", " != ", " contains "}) {
        const auto at = text.find(op);
        if (at != std::string::npos && at > 0) {
            return true;
        }
    }
    return false;
}

// The declared default of retry's parameter `name` (cells D, E and F in the order declared).
double retry_default(std::string_view name) {
    for (const core::RunnerParam &param : core::kRetryParams) {
        if (param.name == name) {
            double value = 0;
            std::from_chars(param.fallback, param.fallback + std::strlen(param.fallback), value);
            return value;
        }
    }
    throw std::logic_error("retry declares no parameter " + std::string(name));
}

// Checks a retry row and, when it is sound, notes on it what it repeats; `free_rows` are
// the steps above it that no earlier retry (`after_retry`: there is one) repeats.
void link_retry(py::dict step, std::size_t free_rows, bool after_retry,
                std::vector<std::string> &problems, const std::string &where) {
    const std::size_t problems_before = problems.size();
    py::object args = step["args"];
    const auto times = number_cell(args, 0, retry_default("times"), 1);
    const auto delay = number_cell(args, 1, retry_default("delay"), 0);
    const auto rows = number_cell(args, 2, retry_default("rows"), 1);
    if (!times || *times != static_cast<double>(static_cast<long long>(*times))) {
        problems.push_back(where + ": retry's times (D) must be a whole number of tries of at "
                                   "least 1, such as 5");
    }
    if (!delay) {
        problems.push_back(where + ": retry's delay (E) must be seconds, such as 1 or 0.5");
    }
    if (!rows || *rows != static_cast<double>(static_cast<long long>(*rows))) {
        problems.push_back(where + ": retry's rows (F) must be the whole number of rows above "
                                   "it to repeat, such as 2");
    } else if (static_cast<std::size_t>(*rows) > free_rows) {
        problems.push_back(
            where + ": retry repeats the " + std::to_string(static_cast<long long>(*rows)) +
            " rows above it, but only " + std::to_string(free_rows) + " step rows stand above it" +
            (after_retry ? " after the retry before it" : ""));
    }
    py::tuple cells = py::reinterpret_borrow<py::tuple>(args);
    if (cells.size() > 3 && !cells[3].is_none() && !is_condition(to_str(cells[3]))) {
        problems.push_back(where +
                           ": retry's until (G) must be a condition on a variable: "
                           "name == text, name != text or name contains text, not " +
                           to_repr(cells[3]));
    }
    if (problems.size() == problems_before) {
        step["times"] = static_cast<long long>(*times);
        step["delay"] = *delay;
        step["covers"] = static_cast<long long>(*rows);
    }
}

// The title a use_data or run_sheet row names, when it names a sheet of the workbook.
std::optional<std::string> named_sheet(py::dict step, const std::set<std::string> &titles,
                                       const std::string &own, std::vector<std::string> &problems,
                                       const std::string &where) {
    py::tuple args = py::reinterpret_borrow<py::tuple>(step["args"]);
    const std::string keyword = keyword_in(step);
    if (args.size() == 0 || args[0].is_none() || !PyUnicode_Check(args[0].ptr())) {
        problems.push_back(where + ": " + keyword + " needs the sheet's name in D");
        return std::nullopt;
    }
    const std::string title = to_str(args[0]);
    if (title.find('{') != std::string::npos) {
        problems.push_back(where + ": " + keyword +
                           " needs the sheet's name as it stands, "
                           "not a reference (" +
                           to_repr(args[0]) + ")");
        return std::nullopt;
    }
    if (titles.count(title) == 0 || title == keyword_list_sheet) {
        std::vector<std::string> names(titles.begin(), titles.end());
        const std::string hint =
            lumox::core::did_you_mean(lumox::core::closest_names(title, names));
        problems.push_back(where + ": " + keyword + ": the workbook has no sheet " +
                           to_repr(args[0]) + (hint.empty() ? "" : ", " + hint));
        return std::nullopt;
    }
    if (title == own) {
        problems.push_back(where + ": " + keyword + " names the sheet it stands on");
        return std::nullopt;
    }
    return title;
}

// The rows of the data sheets, whole: the case reader keeps only three cells of a row
// without a keyword.
std::map<std::string, py::list> whole_sheets(py::bytes data) {
    std::optional<WorkbookRows> workbook = read_rows_from_package(data, keyword_list_sheet, true);
    if (!workbook) {
        workbook = read_rows_with_openpyxl(data, keyword_list_sheet);
    }
    std::map<std::string, py::list> sheets;
    for (const SheetRows &sheet : workbook->sheets) {
        py::list rows;
        for (const SheetRow &row : sheet.rows) {
            rows.append(py::make_tuple(row.number, row.cells));
        }
        sheets[to_str(sheet.title)] = rows;
    }
    return sheets;
}

// The sheets `title` runs, and whether one of them comes back to a sheet in `trail`: the
// sheets of the first such loop, in the order they run each other.
void check_runs(const std::string &title,
                const std::map<std::string, std::vector<std::string>> &runs,
                std::vector<std::string> &trail, std::vector<std::string> &loop) {
    if (!loop.empty()) {
        return;
    }
    if (std::find(trail.begin(), trail.end(), title) != trail.end()) {
        loop.assign(std::find(trail.begin(), trail.end(), title), trail.end());
        return;
    }
    const auto found = runs.find(title);
    if (found == runs.end()) {
        return;
    }
    trail.push_back(title);
    for (const std::string &next : found->second) {
        check_runs(next, runs, trail, loop);
    }
    trail.pop_back();
}

} // namespace

WorkbookCases link_sheets(std::vector<CaseSheet> sheets, py::bytes data, const std::string &where) {
    std::set<std::string> titles;
    for (const CaseSheet &sheet : sheets) {
        titles.insert(to_str(sheet.name));
    }
    std::map<std::string, std::string> data_of;           // case -> its data sheet
    std::map<std::string, std::vector<std::string>> runs; // sheet -> sheets it runs
    std::set<std::string> data_sheets;
    std::set<std::string> flow_sheets;
    for (CaseSheet &sheet : sheets) {
        const std::string title = to_str(sheet.name);
        const std::string sheet_where = where + ", sheet " + to_repr(sheet.name);
        std::vector<std::string> problems;
        py::list kept;
        std::size_t free_rows = 0;
        bool after_retry = false;
        for (py::handle handle : sheet.steps) {
            py::dict step = py::reinterpret_borrow<py::dict>(handle);
            const std::string keyword = keyword_in(step);
            const std::string at = row_where(sheet_where, step);
            if (keyword == use_data_keyword) {
                if (auto named = named_sheet(step, titles, title, problems, at)) {
                    if (data_of.count(title) != 0) {
                        problems.push_back(at + ": use_data stands twice on the sheet; a case "
                                                "reads one data sheet");
                    }
                    data_of[title] = *named;
                    data_sheets.insert(*named);
                }
                continue; // binds the case to its data: no step of its own
            }
            if (keyword == run_sheet_keyword) {
                if (auto named = named_sheet(step, titles, title, problems, at)) {
                    runs[title].push_back(*named);
                    flow_sheets.insert(*named);
                }
            }
            if (keyword == retry_keyword) {
                link_retry(step, free_rows, after_retry, problems, at);
                free_rows = 0;
                after_retry = true;
            } else {
                ++free_rows;
            }
            step["index"] = py::len(kept) + 1;
            kept.append(step);
        }
        sheet.steps = kept;
        for (const std::string &problem : problems) {
            sheet.problems += (sheet.problems.empty() ? "" : "\n") + problem;
        }
    }
    // Sheets that run each other without end are no flows: they stay cases, broken, as
    // does every case that reaches them, so that none of them is lost from sight.
    std::map<std::string, std::string> loop_from;
    for (const auto &[title, sheet_runs] : runs) {
        std::vector<std::string> trail;
        std::vector<std::string> loop;
        check_runs(title, runs, trail, loop);
        if (loop.empty()) {
            continue;
        }
        std::string text;
        for (const std::string &member : loop) {
            text += member + " -> ";
            flow_sheets.erase(member);
        }
        loop_from[title] = text + loop.front();
    }
    for (CaseSheet &sheet : sheets) {
        const auto loop = loop_from.find(to_str(sheet.name));
        if (loop != loop_from.end() && flow_sheets.count(loop->first) == 0) {
            sheet.problems += (sheet.problems.empty() ? "" : "\n") + where + ", sheet " +
                              to_repr(sheet.name) +
                              ": run_sheet runs sheets that run each "
                              "other without end (" +
                              loop->second + ")";
        }
    }
    std::map<std::string, py::list> whole;
    if (!data_sheets.empty()) {
        whole = whole_sheets(data);
    }
    WorkbookCases linked;
    std::map<std::string, std::string> flow_problems;
    for (CaseSheet &sheet : sheets) {
        const std::string title = to_str(sheet.name);
        if (flow_sheets.count(title) != 0) {
            for (py::handle step : sheet.steps) {
                step["sheet"] = sheet.name;
            }
            linked.flows[sheet.name] = sheet.steps;
            if (data_of.count(title) != 0) {
                sheet.problems += (sheet.problems.empty() ? "" : "\n") + where + ", sheet " +
                                  to_repr(sheet.name) +
                                  ": a sheet that run_sheet runs reads "
                                  "no data sheet of its own";
            }
            flow_problems[title] = sheet.problems;
        }
    }
    for (CaseSheet &sheet : sheets) {
        const std::string title = to_str(sheet.name);
        if (data_sheets.count(title) != 0 || flow_sheets.count(title) != 0) {
            continue; // read by the cases that use it
        }
        // A broken sheet it runs, itself or through another, breaks it too, before any of
        // its rows ran.
        std::set<std::string> reached;
        std::vector<std::string> pending = runs[title];
        while (!pending.empty()) {
            const std::string run = pending.back();
            pending.pop_back();
            if (flow_sheets.count(run) == 0 || !reached.insert(run).second) {
                continue;
            }
            if (!flow_problems[run].empty()) {
                sheet.problems += (sheet.problems.empty() ? "" : "\n") + flow_problems[run];
            }
            pending.insert(pending.end(), runs[run].begin(), runs[run].end());
        }
        const auto data_sheet = data_of.find(title);
        if (data_sheet != data_of.end()) {
            const std::string origin = "sheet " + to_repr(py::str(data_sheet->second));
            try {
                const auto rows =
                    lumox::py_helpers::rows_under_header(whole[data_sheet->second], false);
                const std::vector<std::string> ids = lumox::py_helpers::data_row_ids(rows);
                for (std::size_t index = 0; index < rows.size(); ++index) {
                    sheet.rows.push_back(DataSheetRow{
                        rows[index].second, origin + ", row " + std::to_string(rows[index].first),
                        ids[index]});
                }
                if (rows.empty()) {
                    sheet.problems += (sheet.problems.empty() ? "" : "\n") + where + ", " + origin +
                                      ": has no rows of data below its header";
                }
            } catch (const lumox::py_helpers::DataProblem &problem) {
                sheet.problems += (sheet.problems.empty() ? "" : "\n") + where + ", " + origin +
                                  ": " + problem.message;
            }
        }
        linked.cases.push_back(std::move(sheet));
    }
    return linked;
}

} // namespace lumox::workbooks

#include "sheet_rows.hpp"

#include "core/xlsx_parts.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace lumox::workbooks {

namespace xlsx = lumox::core::xlsx;
using lumox::core::XmlUnsupported;

namespace {

constexpr std::uint32_t keyword_column_number = 3; // C, 1-based: where a row's keyword stands

py::object owned(PyObject *value) {
    if (value == nullptr) {
        PyErr_Clear();
        throw XmlUnsupported("a value Python does not read as openpyxl expects");
    }
    return py::reinterpret_steal<py::object>(value);
}

// int() of the text, as openpyxl converts it.
py::object whole_number(const std::string &text) {
    return owned(PyLong_FromUnicodeObject(py::str(text).ptr(), 10));
}

class PackageReader {
public:
    PackageReader(py::bytes data, std::string_view skipped_title, bool whole_rows)
        : skipped_title_(skipped_title), whole_rows_(whole_rows),
          archive_(py::module_::import("zipfile").attr("ZipFile")(
              py::module_::import("io").attr("BytesIO")(data))) {
        for (py::handle info : archive_.attr("infolist")()) {
            const std::string name = info.attr("filename").cast<std::string>();
            // As the archive records it, which the unpacking holds the part to.
            const long long size = info.attr("file_size").cast<long long>();
            if (size > kPartBytesLimit) {
                throw WorkbookTooLarge(
                    "its part " + name + " expands to " + std::to_string(size / (1024 * 1024)) +
                    " MB, more than the " + std::to_string(kPartBytesLimit / (1024 * 1024)) +
                    " MB a part may hold");
            }
            members_.insert(name);
        }
    }
    ~PackageReader() {
        try {
            archive_.attr("close")();
        } catch (py::error_already_set &) {
        }
    }
    PackageReader(const PackageReader &) = delete;
    PackageReader &operator=(const PackageReader &) = delete;

    WorkbookRows read() {
        const xlsx::PackageParts parts = xlsx::read_content_types(member(xlsx::content_types_part));
        const std::string rels_part = xlsx::relationships_part_of(parts.workbook);
        const std::vector<xlsx::Relationship> relationships =
            xlsx::read_relationships(member(rels_part), rels_part);
        const std::vector<xlsx::SheetEntry> entries =
            xlsx::read_workbook_sheets(member(parts.workbook));
        if (has(std::string(xlsx::styles_part))) {
            date_styles_ = xlsx::read_date_styles(member(xlsx::styles_part));
        }
        if (parts.shared_strings) {
            for (const std::string &text :
                 xlsx::read_shared_strings(member(*parts.shared_strings))) {
                shared_strings_.push_back(py::str(text));
            }
        }
        WorkbookRows workbook;
        workbook.formulas_without_values = false;
        for (const xlsx::SheetEntry &entry : entries) {
            if (entry.relationship_id.empty()) {
                continue; // openpyxl drops such an entry with a warning
            }
            const xlsx::Relationship *relationship = nullptr;
            for (const xlsx::Relationship &candidate : relationships) {
                if (candidate.id == entry.relationship_id) {
                    relationship = &candidate;
                    break;
                }
            }
            if (relationship == nullptr) {
                throw XmlUnsupported("a sheet without its relationship");
            }
            if (!has(relationship->target) ||
                relationship->type.find("chartsheet") != std::string::npos ||
                entry.name == skipped_title_) {
                continue;
            }
            // Entries that name one part share its rows, read once.
            auto [read_before, is_new] = rows_of_part_.try_emplace(relationship->target);
            std::vector<SheetRow> &rows = read_before->second;
            if (is_new) {
                for (const xlsx::SheetRow &row :
                     xlsx::read_sheet_rows(member(relationship->target))) {
                    rows.push_back(SheetRow{static_cast<py::ssize_t>(row.number),
                                            values_of(row, workbook.formulas_without_values)});
                }
            }
            for (const SheetRow &row : rows) {
                cells_ += py::len(row.cells);
            }
            if (cells_ > kCellsLimit) {
                throw WorkbookTooLarge("its sheets hold more than " + std::to_string(kCellsLimit) +
                                       " cells (sheet " +
                                       py::repr(py::str(entry.name)).cast<std::string>() +
                                       ", part " + relationship->target + ")");
            }
            workbook.sheets.push_back(SheetRows{py::str(entry.name), rows});
        }
        return workbook;
    }

private:
    bool has(const std::string &name) const { return members_.count(name) != 0; }

    std::string member(std::string_view name) {
        const std::string key(name);
        if (!has(key)) {
            throw XmlUnsupported("the package has no " + key);
        }
        return archive_.attr("read")(key).cast<std::string>();
    }

    py::tuple values_of(const xlsx::SheetRow &row, bool &formulas_without_values) {
        // A row without a keyword is skipped whatever else it holds: it is kept to its first
        // three columns, so that a note far to the right (column ZZZ) costs no wide row.
        std::uint32_t width = row.cells.back().column;
        const auto keyword_cell =
            std::find_if(row.cells.begin(), row.cells.end(), [](const xlsx::SheetCell &cell) {
                return cell.column == keyword_column_number;
            });
        if (!whole_rows_ &&
            (keyword_cell == row.cells.end() || keyword_cell->kind == xlsx::CellKind::empty)) {
            width = std::min(width, keyword_column_number);
        }
        py::tuple values(width);
        for (py::ssize_t i = 0; i < static_cast<py::ssize_t>(values.size()); ++i) {
            values[i] = py::none();
        }
        for (const xlsx::SheetCell &cell : row.cells) {
            formulas_without_values =
                formulas_without_values || (cell.has_formula && cell.kind == xlsx::CellKind::empty);
            if (cell.column <= width) {
                values[cell.column - 1] = value_of(cell);
            }
        }
        return values;
    }

    py::object value_of(const xlsx::SheetCell &cell) {
        switch (cell.kind) {
        case xlsx::CellKind::empty:
            return py::none();
        case xlsx::CellKind::number:
            if (cell.style < date_styles_.size() && date_styles_[cell.style]) {
                throw XmlUnsupported("a number that may be a date");
            }
            if (cell.text.find_first_of(".Ee") != std::string::npos) {
                return owned(PyFloat_FromString(py::str(cell.text).ptr()));
            }
            return whole_number(cell.text);
        case xlsx::CellKind::shared_string: {
            const long long index = whole_number(cell.text).cast<long long>();
            if (index < 0 || index >= static_cast<long long>(shared_strings_.size())) {
                throw XmlUnsupported("a shared string that is not in the table");
            }
            return shared_strings_[static_cast<std::size_t>(index)];
        }
        case xlsx::CellKind::boolean:
            return py::bool_(PyObject_IsTrue(whole_number(cell.text).ptr()) == 1);
        case xlsx::CellKind::text:
            return py::str(cell.text);
        }
        return py::none();
    }

    std::string_view skipped_title_;
    bool whole_rows_;
    py::object archive_;
    std::set<std::string> members_;
    std::vector<bool> date_styles_;
    std::vector<py::str> shared_strings_;
    std::map<std::string, std::vector<SheetRow>> rows_of_part_;
    std::size_t cells_ = 0;
};

} // namespace

std::optional<WorkbookRows> read_rows_from_package(py::bytes data, std::string_view skipped_title,
                                                   bool whole_rows) {
    try {
        PackageReader reader(data, skipped_title, whole_rows);
        return reader.read();
    } catch (const XmlUnsupported &) {
        return std::nullopt;
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        return std::nullopt; // not a readable zip archive: openpyxl says what is wrong
    } catch (const py::cast_error &) {
        return std::nullopt; // a member name or value Python cannot hand over as text
    }
}

WorkbookRows read_rows_with_openpyxl(py::bytes data, std::string_view skipped_title) {
    // From memory: the reader then holds no file that a failure could leave open.
    // data_only: a formula cell gives the value the spreadsheet program last computed.
    py::object workbook =
        py::module_::import("openpyxl")
            .attr("load_workbook")(py::module_::import("io").attr("BytesIO")(data),
                                   py::arg("read_only") = true, py::arg("data_only") = true);
    WorkbookRows rows;
    try {
        for (py::handle sheet : workbook.attr("worksheets")) {
            py::str title = sheet.attr("title");
            if (title.cast<std::string>() == skipped_title) {
                continue;
            }
            // Read-only sheets trust the size the writing program recorded, which some get
            // wrong; forgetting it makes the reader walk every row the file holds.
            sheet.attr("reset_dimensions")();
            SheetRows sheet_rows{title, {}};
            py::ssize_t number = 0;
            for (py::handle cells :
                 sheet.attr("iter_rows")(py::arg("min_row") = 1, py::arg("values_only") = true)) {
                sheet_rows.rows.push_back(
                    SheetRow{++number, py::reinterpret_borrow<py::tuple>(cells)});
            }
            rows.sheets.push_back(std::move(sheet_rows));
        }
    } catch (py::error_already_set &) {
        workbook.attr("close")();
        throw;
    }
    workbook.attr("close")();
    return rows;
}

void define_sheet_rows(py::module_ &m) {
    m.def(
        "_sheet_rows",
        [](py::bytes data, bool own_reader, bool whole_rows) -> py::object {
            const std::optional<WorkbookRows> workbook =
                own_reader ? read_rows_from_package(data, "", whole_rows)
                           : read_rows_with_openpyxl(data, "");
            if (!workbook) {
                return py::none();
            }
            py::list sheets;
            for (const SheetRows &sheet : workbook->sheets) {
                py::list rows;
                for (const SheetRow &row : sheet.rows) {
                    rows.append(py::make_tuple(row.number, row.cells));
                }
                sheets.append(py::make_tuple(sheet.title, rows));
            }
            return sheets;
        },
        py::arg("data"), py::arg("own_reader"), py::arg("whole_rows") = false);
}

} // namespace lumox::workbooks

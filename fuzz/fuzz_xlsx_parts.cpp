// The XML parts of a workbook package as a damaged or hostile file may hold them. The
// first byte picks the part; the rest is its text.
#include "core/xlsx_parts.hpp"
#include "support.hpp"

using namespace lumox::core;
using lumox::fuzz::check;
using lumox::fuzz::is_strict_utf8;

namespace {

void check_rows(const std::vector<xlsx::SheetRow> &rows) {
    std::uint32_t last_row = 0;
    for (const xlsx::SheetRow &row : rows) {
        check(row.number > last_row, "rows out of order");
        check(!row.cells.empty(), "a row without cells");
        last_row = row.number;
        std::uint32_t last_column = 0;
        for (const xlsx::SheetCell &cell : row.cells) {
            check(cell.column > last_column, "cells out of column order");
            check(cell.column <= 26 * 26 * 26 + 26 * 26 + 26, "a column past ZZZ");
            check(is_strict_utf8(cell.text), "a cell text Python cannot take");
            check(cell.kind != xlsx::CellKind::empty || cell.text.empty(),
                  "an empty cell with text");
            last_column = cell.column;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text = lumox::fuzz::as_text(data + 1, size - 1);
    try {
        switch (data[0] % 6) {
        case 0:
            check_rows(xlsx::read_sheet_rows(text));
            break;
        case 1:
            for (const std::string &item : xlsx::read_shared_strings(text)) {
                check(is_strict_utf8(item), "a shared string Python cannot take");
            }
            break;
        case 2:
            for (const xlsx::SheetEntry &entry : xlsx::read_workbook_sheets(text)) {
                check(is_strict_utf8(entry.name), "a sheet title Python cannot take");
            }
            break;
        case 3:
            for (const xlsx::Relationship &relationship :
                 xlsx::read_relationships(text, "xl/_rels/workbook.xml.rels")) {
                check(is_strict_utf8(relationship.target), "a target Python cannot take");
            }
            break;
        case 4:
            xlsx::read_date_styles(text);
            break;
        default:
            check(!xlsx::read_content_types(text).workbook.empty(), "no workbook part");
        }
    } catch (const XmlUnsupported &) {
        // Left to openpyxl. Any other exception escapes and libFuzzer reports it.
    }
    return 0;
}

// The parts of an .xlsx package that hold a workbook's cell values, read the way openpyxl
// reads them when it loads a workbook read-only with the saved values of formulas: which
// part is the workbook, its sheets and where they are stored, the shared strings, the
// cell styles that may show a number as a date, and the rows of a sheet.
//
// Everything here is a fast path: a package it is not sure to read exactly as openpyxl
// would throws XmlUnsupported (see xml_reader.hpp), and the caller reads that file with
// openpyxl itself.
#pragma once

#include "core/xml_reader.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumox::core::xlsx {

inline constexpr std::string_view content_types_part = "[Content_Types].xml";
inline constexpr std::string_view styles_part = "xl/styles.xml";

struct PackageParts {
    std::string workbook;                      // e.g. xl/workbook.xml
    std::optional<std::string> shared_strings; // e.g. xl/sharedStrings.xml
};
PackageParts read_content_types(std::string_view xml);

// The relationships part of `part`: xl/workbook.xml -> xl/_rels/workbook.xml.rels.
std::string relationships_part_of(std::string_view part);

struct Relationship {
    std::string id;
    std::string type;
    std::string target; // the archive member it names (internal targets only)
    bool external = false;
};
// The relationships stored in the part `rels_part`, targets resolved against its folder.
std::vector<Relationship> read_relationships(std::string_view xml, std::string_view rels_part);

struct SheetEntry {
    std::string name;
    std::string relationship_id; // empty when the entry has none (it is then ignored)
};
std::vector<SheetEntry> read_workbook_sheets(std::string_view xml);

// For each cell format (the `s` of a cell): whether a number in that format may be shown
// as a date or time. Errs on the side of "may": such numbers are left to openpyxl.
std::vector<bool> read_date_styles(std::string_view xml);

// The shared string table, each entry's text without its formatting.
std::vector<std::string> read_shared_strings(std::string_view xml);

enum class CellKind : std::uint8_t {
    empty,         // no saved value
    number,        // `text` is the number as written
    shared_string, // `text` is the index into the shared strings
    boolean,       // `text` is "0" or "1" as written
    text,          // `text` is the value itself
};

struct SheetCell {
    std::uint32_t column = 0; // 1 = A
    CellKind kind = CellKind::empty;
    bool has_formula = false;
    std::uint32_t style = 0;
    std::string text;
};

struct SheetRow {
    std::uint32_t number = 0;     // 1-based
    std::vector<SheetCell> cells; // in column order
};

// The rows of a worksheet part that hold at least one cell element, in order.
std::vector<SheetRow> read_sheet_rows(std::string_view xml);

} // namespace lumox::core::xlsx

#include "core/xlsx_parts.hpp"

#include <array>
#include <map>
#include <utility>

namespace lumox::core::xlsx {

namespace {

constexpr std::string_view main_ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view content_types_ns =
    "http://schemas.openxmlformats.org/package/2006/content-types";
constexpr std::string_view package_relationships_ns =
    "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view document_relationships_ns =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// The workbook part's content types, in the order openpyxl looks for them.
constexpr std::array<std::string_view, 4> workbook_types = {
    "application/vnd.ms-excel.template.macroEnabled.main+xml",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
    "application/vnd.ms-excel.sheet.macroEnabled.main+xml",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
};
constexpr std::string_view shared_strings_type =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";

using Event = XmlReader::Event;

[[noreturn]] void unsupported(const std::string &why) { throw XmlUnsupported(why); }

const std::string &required(const XmlReader &xml, std::string_view name) {
    const std::string *value = xml.attribute(name);
    if (value == nullptr) {
        unsupported("<" + std::string(xml.name()) + "> without " + std::string(name));
    }
    return *value;
}

// A whole number of at most 9 digits, as a cell's style or a row number is written.
std::uint32_t small_number(std::string_view text, const char *what) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        unsupported(std::string("a ") + what + " that is not a plain number: " + std::string(text));
    }
    std::uint32_t value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

// posixpath.normpath of a relative path.
std::string normalised_path(std::string_view path) {
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty() && segments.back() != "..") {
                segments.pop_back();
            } else {
                segments.push_back(segment);
            }
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string result;
    for (std::string_view segment : segments) {
        result += (result.empty() ? "" : "/") + std::string(segment);
    }
    return result.empty() ? "." : result;
}

std::string_view folder_of(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// Calls `on_child` at the start of each child element of the element the reader stands on,
// up to that element's end; `on_child` reads or skips the child. Text between the children
// is passed over.
template <typename F>
void for_each_child(XmlReader &xml, F &&on_child) {
    const std::size_t depth = xml.depth();
    while (true) {
        const Event event = xml.next();
        if (event == Event::end && xml.depth() < depth) {
            return;
        }
        if (event == Event::start) {
            on_child();
        }
    }
}

// The text of a string item (<si> or <is>) without its formatting: its plain <t> and the
// <t> of each run, phonetic runs left out. The reader stands on the item's start.
std::string string_item_text(XmlReader &xml) {
    std::optional<std::string> plain;
    std::vector<std::string> runs;
    for_each_child(xml, [&] {
        if (xml.name() == "t") {
            plain = xml.text_only_content();
        } else if (xml.name() == "r") {
            std::string run;
            for_each_child(xml, [&] {
                if (xml.name() == "t") {
                    run = xml.text_only_content();
                } else {
                    xml.skip_element();
                }
            });
            runs.push_back(std::move(run));
        } else {
            xml.skip_element();
        }
    });
    std::string text = plain.value_or("");
    for (const std::string &run : runs) {
        text += run;
    }
    return text;
}

// Cell references: letters A..ZZZ then the row's digits.
std::uint32_t column_of_reference(std::string_view reference) {
    std::size_t letters = 0;
    std::uint32_t column = 0;
    while (letters < reference.size() && reference[letters] >= 'A' && reference[letters] <= 'Z') {
        column = column * 26 + static_cast<std::uint32_t>(reference[letters] - 'A' + 1);
        ++letters;
    }
    const std::string_view digits = reference.substr(letters);
    if (letters == 0 || letters > 3 || digits.empty() || digits.size() > 7 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos || digits[0] == '0') {
        unsupported("an unusual cell reference: " + std::string(reference));
    }
    return column;
}

SheetCell read_cell(XmlReader &xml, std::uint32_t previous_column) {
    SheetCell cell;
    const std::string *reference = xml.attribute("r");
    cell.column = reference != nullptr ? column_of_reference(*reference) : previous_column + 1;
    if (cell.column <= previous_column) {
        unsupported("cells out of column order");
    }
    if (const std::string *style = xml.attribute("s"); style != nullptr) {
        cell.style = small_number(*style, "cell style");
    }
    const std::string *type_attribute = xml.attribute("t");
    const std::string type = type_attribute != nullptr ? *type_attribute : "n";
    std::optional<std::string> value;
    std::optional<std::string> inline_text;
    for_each_child(xml, [&] {
        if (xml.name() == "v") {
            std::string text = xml.text_only_content();
            if (!value) {
                value = std::move(text); // the first <v> counts
            }
        } else if (xml.name() == "is") {
            std::string text = string_item_text(xml);
            if (!inline_text) {
                inline_text = std::move(text);
            }
        } else {
            cell.has_formula = cell.has_formula || xml.name() == "f";
            xml.skip_element();
        }
    });
    if (type == "inlineStr") {
        if (inline_text) {
            cell.kind = CellKind::text;
            cell.text = std::move(*inline_text);
        }
        return cell;
    }
    if (!value || value->empty()) {
        return cell;
    }
    if (type == "n") {
        cell.kind = CellKind::number;
    } else if (type == "s") {
        cell.kind = CellKind::shared_string;
    } else if (type == "b") {
        cell.kind = CellKind::boolean;
    } else if (type == "d") {
        unsupported("a date cell");
    } else {
        cell.kind = CellKind::text; // "str" (a formula's text) and error values alike
    }
    cell.text = std::move(*value);
    return cell;
}

SheetRow read_row(XmlReader &xml, std::uint32_t previous_number) {
    SheetRow row;
    const std::string *number = xml.attribute("r");
    row.number = number != nullptr ? small_number(*number, "row number") : previous_number + 1;
    if (row.number <= previous_number) {
        unsupported("rows out of order");
    }
    for_each_child(xml, [&] {
        if (xml.name() != "c") {
            unsupported("a row holding <" + std::string(xml.name()) + ">");
        }
        row.cells.push_back(read_cell(xml, row.cells.empty() ? 0 : row.cells.back().column));
    });
    return row;
}

bool is_plain_number_format(std::uint32_t builtin_id) {
    return builtin_id <= 13 || (builtin_id >= 37 && builtin_id <= 44) || builtin_id == 48 ||
           builtin_id == 49;
}

} // namespace

PackageParts read_content_types(std::string_view text) {
    XmlReader xml(text, "Types", content_types_ns);
    std::map<std::string, std::string, std::less<>> first_part_of_type;
    for (Event event = xml.next(); event != Event::done; event = xml.next()) {
        if (event == Event::start && xml.depth() == 2 && xml.name() == "Override") {
            first_part_of_type.emplace(required(xml, "ContentType"), required(xml, "PartName"));
        }
    }
    // The manifest names parts from the package root ("/xl/workbook.xml"); the archive
    // holds them without the slash.
    auto member = [](const std::string &part_name) {
        return part_name.substr(part_name.empty() ? 0 : 1);
    };
    PackageParts parts;
    for (std::string_view type : workbook_types) {
        if (auto found = first_part_of_type.find(type); found != first_part_of_type.end()) {
            parts.workbook = member(found->second);
            break;
        }
    }
    if (parts.workbook.empty()) {
        unsupported("no workbook part named in the manifest");
    }
    if (auto found = first_part_of_type.find(shared_strings_type);
        found != first_part_of_type.end()) {
        parts.shared_strings = member(found->second);
    }
    return parts;
}

std::string relationships_part_of(std::string_view part) {
    const std::string_view folder = folder_of(part);
    const std::string_view file = part.substr(folder.empty() ? 0 : folder.size() + 1);
    return (folder.empty() ? "" : std::string(folder) + "/") + "_rels/" + std::string(file) +
           ".rels";
}

std::vector<Relationship> read_relationships(std::string_view text, std::string_view rels_part) {
    XmlReader xml(text, "Relationships", package_relationships_ns);
    const std::string_view parent = folder_of(folder_of(rels_part));
    std::vector<Relationship> relationships;
    for (Event event = xml.next(); event != Event::done; event = xml.next()) {
        if (event != Event::start || xml.depth() != 2 || xml.name() != "Relationship") {
            continue;
        }
        Relationship relationship{required(xml, "Id"), required(xml, "Type"),
                                  required(xml, "Target")};
        const std::string *mode = xml.attribute("TargetMode");
        relationship.external = mode != nullptr && *mode == "External";
        if (!relationship.external) {
            if (relationship.target.starts_with("/")) {
                relationship.target.erase(0, 1);
            } else {
                const std::string joined = parent.empty()
                                               ? relationship.target
                                               : std::string(parent) + "/" + relationship.target;
                relationship.target = normalised_path(joined);
            }
        }
        relationships.push_back(std::move(relationship));
    }
    return relationships;
}

std::vector<SheetEntry> read_workbook_sheets(std::string_view text) {
    XmlReader xml(text, "workbook", main_ns);
    // Prefixes bound to the relationships namespace, which qualifies each sheet's r:id.
    std::vector<std::string> id_names;
    auto note_prefixes = [&] {
        for (const XmlAttribute &attr : xml.attributes()) {
            if (attr.name.starts_with("xmlns:") && attr.value == document_relationships_ns) {
                id_names.push_back(std::string(attr.name.substr(6)) + ":id");
            }
        }
    };
    std::vector<SheetEntry> sheets;
    bool sheets_seen = false;
    std::string_view list;
    for (Event event = xml.next(); event != Event::done; event = xml.next()) {
        if (event != Event::start) {
            continue;
        }
        if (xml.depth() == 1) {
            note_prefixes();
        } else if (xml.depth() == 2) {
            list = xml.name();
            if (list == "sheets" && std::exchange(sheets_seen, true)) {
                unsupported("two <sheets> lists");
            }
        } else if (xml.depth() == 3 && list == "sheets" && xml.name() == "sheet") {
            note_prefixes();
            SheetEntry entry{required(xml, "name"), {}};
            for (const std::string &id_name : id_names) {
                if (const std::string *id = xml.attribute(id_name); id != nullptr) {
                    entry.relationship_id = *id;
                }
            }
            sheets.push_back(std::move(entry));
        }
    }
    return sheets;
}

std::vector<bool> read_date_styles(std::string_view text) {
    XmlReader xml(text, "styleSheet", main_ns);
    std::map<std::uint32_t, std::string> custom_formats;
    std::vector<std::uint32_t> cell_format_ids;
    std::string_view list;
    for (Event event = xml.next(); event != Event::done; event = xml.next()) {
        if (event != Event::start) {
            continue;
        }
        if (xml.depth() == 2) {
            list = xml.name();
        } else if (xml.depth() == 3 && list == "numFmts" && xml.name() == "numFmt") {
            custom_formats[small_number(required(xml, "numFmtId"), "number format id")] =
                required(xml, "formatCode");
        } else if (xml.depth() == 3 && list == "cellXfs" && xml.name() == "xf") {
            const std::string *id = xml.attribute("numFmtId");
            cell_format_ids.push_back(id != nullptr ? small_number(*id, "number format id") : 0);
        }
    }
    std::vector<bool> dates;
    dates.reserve(cell_format_ids.size());
    for (std::uint32_t id : cell_format_ids) {
        auto custom = custom_formats.find(id);
        dates.push_back(custom != custom_formats.end()
                            ? custom->second.find_first_of("dmhysDMHYS") != std::string::npos
                            : !is_plain_number_format(id));
    }
    return dates;
}

std::vector<std::string> read_shared_strings(std::string_view text) {
    XmlReader xml(text, "sst", main_ns);
    std::vector<std::string> strings;
    for (Event event = xml.next(); event != Event::done; event = xml.next()) {
        if (event != Event::start || xml.name() != "si") {
            continue;
        }
        std::string item = string_item_text(xml);
        // openpyxl drops the escape prefix of a written "_x005F_" sequence.
        for (std::size_t at = item.find("x005F_"); at != std::string::npos;
             at = item.find("x005F_", at)) {
            item.erase(at, 6);
        }
        strings.push_back(std::move(item));
    }
    return strings;
}

std::vector<SheetRow> read_sheet_rows(std::string_view text) {
    XmlReader xml(text, "worksheet", main_ns);
    std::vector<SheetRow> rows;
    std::uint32_t last_number = 0;
    for (Event event = xml.next(); event != Event::done; event = xml.next()) {
        if (event != Event::start || xml.name() != "row") {
            continue;
        }
        SheetRow row = read_row(xml, last_number);
        last_number = row.number;
        if (!row.cells.empty()) {
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

} // namespace lumox::core::xlsx

#include "core/ini.hpp"

#include "core/ascii_text.hpp"

#include <cstddef>
#include <unordered_map>

namespace lumox::core {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Splits on "\n", "\r\n" and a lone "\r", as Python's text files do.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// A line that is not a setting is shown by its first word only: `email_password hunter2`
// (the = forgotten) must not print the password in the error.
std::string line_start(std::string_view content) {
    const std::size_t blank = content.find_first_of(kAsciiBlanks);
    if (blank == std::string_view::npos) {
        return quoted(content);
    }
    return "'" + std::string(content.substr(0, blank)) +
           " …' (the rest of the line is left out, it may hold a secret)";
}

// One option while the file is read: its lines, joined when the file is done.
struct PendingEntry {
    std::string key;
    std::vector<std::string> lines;
    int line = 0;
};

// Keys and sections are found through an index, so that a file of many keys is read in
// linear time.
struct PendingSection {
    std::string name;
    std::vector<PendingEntry> entries;
    std::unordered_map<std::string, std::size_t> places = {};

    PendingEntry &set(std::string key, std::string first_line, int line) {
        auto [place, added] = places.try_emplace(key, entries.size());
        if (!added) {
            // The last occurrence wins but keeps the place of the first.
            PendingEntry &entry = entries[place->second];
            entry.lines = {std::move(first_line)};
            entry.line = line;
            return entry;
        }
        entries.push_back({std::move(key), {std::move(first_line)}, line});
        return entries.back();
    }
};

} // namespace

IniError::IniError(int line, const std::string &problem)
    : std::runtime_error("line " + std::to_string(line) + ": " + problem), line_(line),
      problem_(problem) {}

const std::vector<IniEntry> *IniDocument::section(std::string_view name) const {
    for (const auto &[section_name, entries] : sections_) {
        if (section_name == name) {
            return &entries;
        }
    }
    return nullptr;
}

std::optional<std::string> IniDocument::get(std::string_view section_name,
                                            std::string_view key) const {
    const auto *entries = section(section_name);
    if (entries == nullptr) {
        return std::nullopt;
    }
    const std::string wanted = lower_ascii(key);
    for (const auto &entry : *entries) {
        if (entry.key == wanted) {
            return entry.value;
        }
    }
    return std::nullopt;
}

std::vector<std::string> IniDocument::section_names() const {
    std::vector<std::string> names;
    for (const auto &section : sections_) {
        names.push_back(section.first);
    }
    return names;
}

IniDocument parse_ini(std::string_view text) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }

    std::vector<PendingSection> sections;
    std::unordered_map<std::string, std::size_t> section_places;
    PendingSection *current = nullptr;
    PendingEntry *option = nullptr;
    // Indentation of the last header or key line: deeper lines continue the value.
    std::size_t indent_level = 0;

    int line_number = 0;
    for (std::string_view line : split_lines(text)) {
        ++line_number;
        const std::string_view content = strip_blanks(line);
        const bool is_comment = !content.empty() && (content[0] == '#' || content[0] == ';');
        if (content.empty() || is_comment) {
            // A blank line inside a value stays part of it (trailing ones are dropped at
            // the end); a comment line is skipped without ending the value.
            if (!is_comment && option != nullptr) {
                option->lines.emplace_back();
            }
            continue;
        }

        const std::size_t indent = line.find_first_not_of(kAsciiBlanks);
        if (option != nullptr && indent > indent_level) {
            option->lines.emplace_back(content);
            continue;
        }
        indent_level = indent;

        const std::size_t closing = content.rfind(']');
        if (content[0] == '[' && closing != std::string_view::npos && closing >= 2) {
            std::string name(content.substr(1, closing - 1));
            auto [place, added] = section_places.try_emplace(name, sections.size());
            if (added) {
                sections.push_back({std::move(name), {}});
            }
            current = &sections[place->second];
            option = nullptr;
            continue;
        }
        if (current == nullptr) {
            throw IniError(line_number,
                           line_start(content) + " stands before the first [section] header");
        }

        const std::size_t delimiter = content.find_first_of("=:");
        if (delimiter == std::string_view::npos) {
            throw IniError(line_number, "expected 'key = value', 'key: value', a [section] "
                                        "header or a comment, got " +
                                            line_start(content));
        }
        const std::string_view key = strip_blanks(content.substr(0, delimiter));
        if (key.empty()) {
            throw IniError(line_number, "a value without a key: " + line_start(content));
        }
        option =
            &current->set(lower_ascii(key),
                          std::string(strip_blanks(content.substr(delimiter + 1))), line_number);
    }

    IniDocument document;
    for (auto &section : sections) {
        std::vector<IniEntry> entries;
        for (auto &pending : section.entries) {
            std::string value;
            for (std::size_t i = 0; i < pending.lines.size(); ++i) {
                if (i > 0) {
                    value += '\n';
                }
                value += pending.lines[i];
            }
            value.erase(value.find_last_not_of(kAsciiBlanks) + 1);
            entries.push_back({std::move(pending.key), std::move(value), pending.line});
        }
        document.sections_.emplace_back(std::move(section.name), std::move(entries));
    }
    return document;
}

} // namespace lumox::core

#include "yaml_hints.hpp"

#include <cctype>
#include <vector>

namespace lumox::core {
namespace {

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos
                                                                         : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool is_key_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
           c == '$';
}

// "method:GET" in a line: a key, a colon and no blank after it (not "http://").
std::string_view glued_key_value(std::string_view line) {
    const std::string_view content = trimmed(line);
    std::size_t start = content.rfind("- ", 0) == 0 ? 2 : 0;
    std::size_t colon = start;
    while (colon < content.size() && is_key_char(content[colon])) {
        ++colon;
    }
    if (colon == start || colon + 1 >= content.size() || content[colon] != ':' ||
        content[colon + 1] == ' ' || content[colon + 1] == '/') {
        return {};
    }
    return content.substr(start);
}

} // namespace

std::string yaml_mistake_hint(std::string_view problem, std::string_view text, std::size_t line) {
    const std::vector<std::string_view> lines = lines_of(text);
    if (line >= lines.size()) {
        return {};
    }
    const std::string_view here = lines[line];
    if (problem.find("unhashable key") != std::string_view::npos) {
        const std::size_t braces = here.find("{{");
        if (braces == std::string_view::npos) {
            return {};
        }
        const std::string_view before = trimmed(here.substr(0, braces));
        return "hint: quote a value that starts with {{, as in " + std::string(before) + " \"" +
               std::string(trimmed(here.substr(braces))) +
               "\"; unquoted, YAML reads { as the start of a mapping";
    }
    if (problem.find("'\\t'") != std::string_view::npos) {
        return "hint: YAML indents with blanks, not tabs: line " + std::to_string(line + 1) +
               " holds a tab";
    }
    if (problem.find("mapping values are not allowed") != std::string_view::npos ||
        problem.find("could not find expected ':'") != std::string_view::npos) {
        for (std::size_t back = 0; back <= 2 && back <= line; ++back) {
            const std::string_view glued = glued_key_value(lines[line - back]);
            if (glued.empty()) {
                continue;
            }
            const std::size_t colon = glued.find(':');
            return "hint: line " + std::to_string(line - back + 1) + " has '" + std::string(glued) +
                   "' with no blank after ':', so YAML reads it as one text; write '" +
                   std::string(glued.substr(0, colon + 1)) + " " +
                   std::string(glued.substr(colon + 1)) + "'";
        }
        return "hint: a value holding ': ' (or starting with a quote it does not end with) "
               "must be quoted as a whole";
    }
    return {};
}

} // namespace lumox::core

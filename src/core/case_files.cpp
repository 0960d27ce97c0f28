#include "core/case_files.hpp"

#include "core/utf8.hpp"

namespace lumox::core {

bool is_case_file_name(std::string_view name, std::initializer_list<std::string_view> suffixes) {
    if (!name.starts_with("test_")) {
        return false;
    }
    for (std::string_view suffix : suffixes) {
        if (name.size() > suffix.size() + 5 && name.ends_with(suffix)) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> case_name_problem(std::string_view name) {
    if (name.find_first_not_of(" \t") == std::string_view::npos) {
        return "a case needs a name";
    }
    std::size_t characters = 0;
    for (std::size_t i = 0; i < name.size(); ++characters) {
        char32_t cp = 0;
        i += decode_utf8(name, i, cp);
        if (cp < 0x20 || cp == 0x7F) {
            return "a sheet title or file name cannot hold control characters";
        }
    }
    for (char c : std::string_view("\\/?*[]:\"<>|")) {
        if (name.find(c) != std::string_view::npos) {
            return std::string("'") + c + "' cannot be part of a sheet title or file name";
        }
    }
    if (name.front() == '\'' || name.back() == '\'') {
        return "a sheet title cannot begin or end with '";
    }
    if (characters > 31) {
        return "a sheet title holds at most 31 characters, this one has " +
               std::to_string(characters);
    }
    return std::nullopt;
}

} // namespace lumox::core

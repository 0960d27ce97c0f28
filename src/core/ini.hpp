// Reader for INI files such as pytest.ini, with the rules Python's configparser applies:
// `[section]` headers, `key = value` and `key: value` lines (keys lower-cased, values
// stripped), `#` and `;` full-line comments, indented continuation lines joined with "\n",
// a leading UTF-8 byte order mark tolerated. Repeated sections merge and a repeated key
// keeps its last value. Values are taken literally: no `%(name)s` interpolation.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumox::core {

// A line the reader cannot understand; `line()` is 1-based.
class IniError : public std::runtime_error {
public:
    IniError(int line, const std::string &problem);
    int line() const { return line_; }
    const std::string &problem() const { return problem_; }

private:
    int line_;
    std::string problem_;
};

struct IniEntry {
    std::string key;   // lower-cased
    std::string value; // continuation lines joined with "\n"
    int line = 0;      // line of the key (of its last occurrence)
};

class IniDocument {
public:
    // Entries of `section` in order of first appearance, or nullptr when it is absent.
    // Section names are case-sensitive.
    const std::vector<IniEntry> *section(std::string_view name) const;
    // The value of `key` (any case) in `section`.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    std::vector<std::string> section_names() const;

private:
    friend IniDocument parse_ini(std::string_view text);
    std::vector<std::pair<std::string, std::vector<IniEntry>>> sections_;
};

// Throws IniError for the first malformed line.
IniDocument parse_ini(std::string_view text);

} // namespace lumox::core

#include "core/http_log_text.hpp"

namespace lumox::core {

std::string centered(std::string_view title, std::size_t width, char fill) {
    if (title.size() >= width) {
        return std::string(title);
    }
    const std::size_t margin = width - title.size();
    // Python's rule: an odd margin puts the extra character left only for odd widths.
    const std::size_t left = margin / 2 + (margin & width & 1);
    std::string line(left, fill);
    line += title;
    line.append(margin - left, fill);
    return line;
}

std::string bytes_literal(std::string_view bytes) {
    const bool has_single = bytes.find('\'') != std::string_view::npos;
    const bool has_double = bytes.find('"') != std::string_view::npos;
    const char quote = has_single && !has_double ? '"' : '\'';
    static constexpr char kHex[] = "0123456789abcdef";

    std::string literal = "b";
    literal.reserve(bytes.size() + 3);
    literal += quote;
    for (const char ch : bytes) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == quote || ch == '\\') {
            literal += '\\';
            literal += ch;
        } else if (ch == '\t') {
            literal += "\\t";
        } else if (ch == '\n') {
            literal += "\\n";
        } else if (ch == '\r') {
            literal += "\\r";
        } else if (byte < 0x20 || byte >= 0x7f) {
            literal += "\\x";
            literal += kHex[byte >> 4];
            literal += kHex[byte & 0x0f];
        } else {
            literal += ch;
        }
    }
    literal += quote;
    return literal;
}

} // namespace lumox::core

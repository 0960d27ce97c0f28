#include "core/references.hpp"

#include "core/utf8.hpp"

#include <cstddef>

namespace lumox::core {
namespace {

bool is_ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char32_t c) { return c >= '0' && c <= '9'; }
bool is_fullwidth_digit(char32_t c) { return c >= 0xFF10 && c <= 0xFF19; }

// Non-ASCII characters that are not letters: the punctuation, symbol, space and control
// blocks a tester's text is likely to hold next to braces (Latin-1 signs, general and CJK
// punctuation, fullwidth signs, arrows, box drawing, emoji, private use).
bool is_non_letter(char32_t c) {
    return (c >= 0x80 && c <= 0xBF) || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x2BFF) ||
           (c >= 0x3000 && c <= 0x303F) || (c >= 0xE000 && c <= 0xF8FF) ||
           (c >= 0xFE10 && c <= 0xFE1F) || (c >= 0xFE30 && c <= 0xFE6F) || c == 0xFEFF ||
           (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) ||
           (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65) ||
           (c >= 0xFFE0 && c <= 0xFFFF) || (c >= 0x1F000 && c <= 0x1FAFF) || c > 0x10FFFF;
}

bool can_start_name(char32_t c, std::size_t length) {
    if (c < 0x80) {
        return is_ascii_letter(c) || c == '_';
    }
    // A lone byte (length 1 at or above 0x80) is not valid UTF-8.
    return length > 1 && !is_non_letter(c) && !is_fullwidth_digit(c);
}

bool can_continue_name(char32_t c, std::size_t length) {
    return can_start_name(c, length) || is_ascii_digit(c) || is_fullwidth_digit(c);
}

// The end of the identifier that starts at text[begin]; `begin` when none starts there.
std::size_t identifier_end(std::string_view text, std::size_t begin) {
    std::size_t i = begin;
    while (i < text.size()) {
        char32_t c = 0;
        const std::size_t length = decode_utf8(text, i, c);
        const bool fits = i == begin ? can_start_name(c, length) : can_continue_name(c, length);
        if (!fits) {
            break;
        }
        i += length;
    }
    return i;
}

void add_literal(std::vector<TextPiece> &pieces, std::string_view text) {
    if (text.empty()) {
        return;
    }
    if (!pieces.empty() && !pieces.back().is_reference) {
        pieces.back().text += text;
    } else {
        pieces.push_back({false, std::string(text)});
    }
}

} // namespace

bool is_identifier(std::string_view name) {
    return !name.empty() && identifier_end(name, 0) == name.size();
}

bool is_dotted_identifier(std::string_view name) {
    std::size_t begin = 0;
    while (true) {
        const std::size_t dot = name.find('.', begin);
        if (!is_identifier(name.substr(begin, dot == std::string_view::npos ? dot : dot - begin))) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        begin = dot + 1;
    }
}

std::vector<TextPiece> split_references(std::string_view text) {
    std::vector<TextPiece> pieces;
    std::size_t literal_begin = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '{') {
            ++i;
            continue;
        }
        // `{{name}}`: the literal text `{name}`.
        if (i + 1 < text.size() && text[i + 1] == '{') {
            const std::size_t end = identifier_end(text, i + 2);
            if (end > i + 2 && text.substr(end, 2) == "}}") {
                add_literal(pieces, text.substr(literal_begin, i - literal_begin));
                add_literal(pieces, text.substr(i + 1, end - i));
                i = end + 2;
                literal_begin = i;
                continue;
            }
            ++i; // the first brace is literal; the second may open a reference
            continue;
        }
        const std::size_t end = identifier_end(text, i + 1);
        if (end > i + 1 && end < text.size() && text[end] == '}') {
            add_literal(pieces, text.substr(literal_begin, i - literal_begin));
            pieces.push_back({true, std::string(text.substr(i + 1, end - i - 1))});
            i = end + 1;
            literal_begin = i;
            continue;
        }
        ++i;
    }
    add_literal(pieces, text.substr(literal_begin));
    return pieces;
}

std::optional<std::string_view> sole_reference(std::string_view text) {
    if (text.size() < 3 || text.front() != '{' || text.back() != '}') {
        return std::nullopt;
    }
    std::string_view name = text.substr(1, text.size() - 2);
    if (!is_identifier(name)) {
        return std::nullopt;
    }
    return name;
}

} // namespace lumox::core

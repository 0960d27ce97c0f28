// Banners and byte-string literals of the HTTP traffic log. Input: the body bytes;
// for the banner, byte 0 is the width, byte 1 the fill and the rest the title.
#include "core/http_log_text.hpp"
#include "support.hpp"

#include <optional>
#include <string>

using namespace lumox::core;
using lumox::fuzz::check;

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The bytes a Python byte-string literal of repr()'s form stands for.
std::optional<std::string> literal_bytes(std::string_view literal) {
    if (literal.size() < 3 || literal[0] != 'b') {
        return std::nullopt;
    }
    const char quote = literal[1];
    if ((quote != '\'' && quote != '"') || literal.back() != quote) {
        return std::nullopt;
    }
    const std::string_view inside = literal.substr(2, literal.size() - 3);
    std::string bytes;
    for (std::size_t i = 0; i < inside.size(); ++i) {
        const char c = inside[i];
        if (c == quote) {
            return std::nullopt; // unescaped quote ends the literal early
        }
        if (c != '\\') {
            bytes += c;
            continue;
        }
        if (++i == inside.size()) {
            return std::nullopt;
        }
        switch (inside[i]) {
        case '\\':
            bytes += '\\';
            break;
        case '\'':
            bytes += '\'';
            break;
        case '"':
            bytes += '"';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 'r':
            bytes += '\r';
            break;
        case 'x': {
            if (i + 2 >= inside.size()) {
                return std::nullopt;
            }
            const int high = hex_digit(inside[i + 1]);
            const int low = hex_digit(inside[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view bytes = lumox::fuzz::as_text(data, size);

    const std::string literal = bytes_literal(bytes);
    for (const char c : literal) {
        check(c >= 0x20 && c < 0x7f, "a byte literal outside printable ASCII");
    }
    check(literal_bytes(literal) == std::string(bytes), "the byte literal does not read back");
    const bool single_only =
        bytes.find('\'') != std::string_view::npos && bytes.find('"') == std::string_view::npos;
    check(literal[1] == (single_only ? '"' : '\''), "not the quote repr() picks");

    if (size >= 2) {
        const std::size_t width = data[0];
        const char fill = static_cast<char>(data[1]);
        const std::string_view title = bytes.substr(2);
        const std::string line = centered(title, width, fill);
        if (title.size() >= width) {
            check(line == title, "a long title was changed");
        } else {
            check(line.size() == width, "a banner of the wrong width");
            // str.center: an odd margin has its extra fill on the left for odd widths only.
            const std::size_t margin = width - title.size();
            const std::size_t left =
                margin % 2 == 1 && width % 2 == 1 ? margin / 2 + 1 : margin / 2;
            check(line.substr(0, left) == std::string(left, fill) &&
                      line.compare(left, title.size(), title) == 0 &&
                      line.substr(left + title.size()) == std::string(margin - left, fill),
                  "the title is not centred as str.center centres it");
        }
    }
    return 0;
}

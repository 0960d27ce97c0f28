// Walking UTF-8 text one character at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumox::core {

// `text` cut to at most `limit` bytes followed by "...", never inside a character (a cut
// character would make the text no UTF-8, which Python refuses to take); `text` itself
// when it is short enough.
inline std::string cut_utf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return std::string(text);
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(text.substr(0, cut)) + "...";
}

// Decodes the UTF-8 character starting at text[i] (i < text.size()) into `cp` and returns
// its length in bytes. A byte that does not start a complete sequence counts as one
// character of its own (`cp` is then that byte, at least 0x80), so any text can be walked.
inline std::size_t decode_utf8(std::string_view text, std::size_t i, char32_t &cp) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t len = lead < 0x80           ? 1
                      : (lead >> 5) == 0x6  ? 2
                      : (lead >> 4) == 0xE  ? 3
                      : (lead >> 3) == 0x1E ? 4
                                            : 0;
    if (len == 0 || i + len > text.size()) {
        cp = lead;
        return 1;
    }
    cp = len == 1 ? lead : lead & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            cp = lead;
            return 1;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    return len;
}

// Decodes the character starting at text[i] as Python decodes UTF-8 (no overlong forms, no
// surrogates, nothing past U+10FFFF) and returns its length in bytes, or 0 when the bytes
// there are no such character.
inline std::size_t decode_strict_utf8(std::string_view text, std::size_t i, char32_t &cp) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

} // namespace lumox::core

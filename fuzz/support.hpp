// Shared by the fuzz targets: property checks that abort, so libFuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "core/utf8.hpp"

namespace lumox::fuzz {

inline std::string_view as_text(const std::uint8_t *data, std::size_t size) {
    return {reinterpret_cast<const char *>(data), size};
}

// Inputs written "pattern, a newline, the text": the two parts (no newline: no text).
inline std::pair<std::string_view, std::string_view> pattern_and_text(const std::uint8_t *data,
                                                                      std::size_t size) {
    const std::string_view input = as_text(data, size);
    const std::size_t newline = input.find('\n');
    return {input.substr(0, newline),
            newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1)};
}

inline void check(bool holds, const char *property) {
    if (!holds) {
        std::fprintf(stderr, "property violated: %s\n", property);
        std::abort();
    }
}

// Strict UTF-8 as Python decodes it: no overlong forms, no surrogates, nothing past
// U+10FFFF. Texts handed to Python must pass this or the conversion to str throws.
inline bool is_strict_utf8(std::string_view text) {
    char32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = lumox::core::decode_strict_utf8(text, i, cp);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

} // namespace lumox::fuzz

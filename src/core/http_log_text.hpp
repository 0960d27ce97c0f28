// Text pieces of the HTTP traffic log of the API keywords: the dashed banners that open
// and close each request and response block, and bodies written as byte-string literals.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumox::core {

// `title` centred in a line of `width` characters filled with `fill`, split the way
// Python's str.center splits an odd margin (for an even width the extra fill goes right).
// A title at least `width` long is returned unchanged.
std::string centered(std::string_view title, std::size_t width = 80, char fill = '-');

// `bytes` as a Python byte-string literal, exactly as repr(bytes) writes it: b'...' (or
// b"..." when the bytes hold a single quote and no double quote), with \t \n \r \\ and the
// quote escaped and every other byte outside printable ASCII as \xNN.
std::string bytes_literal(std::string_view bytes);

} // namespace lumox::core

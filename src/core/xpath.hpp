// XPath 1.0 string literals for any text. XPath has no escape character: a text with
// only one kind of quote goes inside the other kind, and a text holding both is joined
// from pieces with concat().
#pragma once

#include <string>
#include <string_view>

namespace lumox::core {

// The XPath expression whose value is exactly `text`:
//   abc -> 'abc';  it's -> "it's";  a'b"c -> concat('a', "'", 'b"c')
std::string xpath_literal(std::string_view text);

} // namespace lumox::core

// Shell-style wildcard matching of whole texts, as testers write them in response
// checks: `*` any run of characters, `?` one character, `[abc]`/`[a-z]` one of a set,
// `[!abc]` one not in it.
// `?` and sets consume whole UTF-8 characters. A `[` without its closing `]` stands for itself.
#pragma once

#include <string_view>

namespace lumox::core {

bool glob_match(std::string_view pattern, std::string_view text);

} // namespace lumox::core

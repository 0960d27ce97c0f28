// "did you mean ...?": the known names closest to a mistyped one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumox::core {

// Edits (insert, delete, replace, swap of two neighbours) that turn `a` into `b`, counted
// on bytes: lumox's own names are ASCII.
std::size_t edit_distance(std::string_view a, std::string_view b);

// Whether `word` is a likely typo of `name`: at most one edit for names of up to four
// characters, two for longer ones, and not the name itself.
bool is_near_miss(std::string_view word, std::string_view name);

// The near misses of `word` among `names`, closest first (ties keep the order of
// `names`), at most `limit` of them.
std::vector<std::string> closest_names(std::string_view word, const std::vector<std::string> &names,
                                       std::size_t limit = 3);

// "did you mean 'a'?" / "did you mean 'a' or 'b'?" / "did you mean 'a', 'b' or 'c'?";
// empty for no names.
std::string did_you_mean(const std::vector<std::string> &names);

} // namespace lumox::core

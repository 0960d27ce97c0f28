// Hints for the YAML mistakes testers make most, added below PyYAML's own error: an
// unquoted {{ template }}, a tab in the indentation, a key without a blank after its colon.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumox::core {

// The hint for PyYAML's `problem` (e.g. "found unhashable key") at the 0-based line
// `line` of `text`, starting "hint: "; empty when no known mistake fits.
std::string yaml_mistake_hint(std::string_view problem, std::string_view text, std::size_t line);

} // namespace lumox::core

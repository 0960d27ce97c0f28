// A syntax check of JSONPath expressions. The JSONPath library answers a malformed
// expression with "no match", which hides the tester's typo behind "not data".
#pragma once

#include <string>
#include <string_view>

namespace lumox::core {

// What is wrong with the JSONPath `expr` ("$..." expected), or empty when its brackets,
// parentheses and quotes pair up and every step has a name or a subscript.
std::string jsonpath_problem(std::string_view expr);

} // namespace lumox::core

#include "core/jsonpath_check.hpp"

#include <vector>

namespace lumox::core {

std::string jsonpath_problem(std::string_view expr) {
    if (expr.empty() || expr[0] != '$') {
        return "a JSONPath starts with $";
    }
    if (expr.size() > 1 && expr[1] != '.' && expr[1] != '[') {
        return "after $ comes . or [";
    }
    std::vector<char> open; // the brackets and parentheses not closed yet
    char quote = 0;
    for (std::size_t i = 1; i < expr.size(); ++i) {
        const char c = expr[i];
        if (quote != 0) {
            if (c == '\\') {
                ++i;
            } else if (c == quote) {
                quote = 0;
            }
            continue;
        }
        switch (c) {
        case '\'':
        case '"':
            quote = c;
            break;
        case '[':
            if (i + 1 < expr.size() && expr[i + 1] == ']') {
                return "empty [] at position " + std::to_string(i);
            }
            open.push_back(']');
            break;
        case '(':
            open.push_back(')');
            break;
        case ']':
        case ')':
            if (open.empty() || open.back() != c) {
                return std::string("unexpected ") + c + " at position " + std::to_string(i);
            }
            open.pop_back();
            break;
        default:
            break;
        }
    }
    if (quote != 0) {
        return std::string("unclosed ") + quote + " quote";
    }
    if (!open.empty()) {
        return std::string("unclosed ") + (open.back() == ']' ? "[" : "(");
    }
    if (expr.back() == '.') {
        return "ends with . but no name follows";
    }
    return {};
}

} // namespace lumox::core

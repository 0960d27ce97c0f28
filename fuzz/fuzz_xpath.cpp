// XPath string literals for option texts: the literal, read back by XPath 1.0 rules,
// must give the text again.
#include "core/xpath.hpp"
#include "support.hpp"

#include <optional>
#include <string>

using lumox::core::xpath_literal;
using lumox::fuzz::check;

namespace {

// Reads one XPath literal ('...' or "...", no escapes) at the start of `expr`.
std::optional<std::string> read_literal(std::string_view &expr) {
    if (expr.empty() || (expr[0] != '\'' && expr[0] != '"')) {
        return std::nullopt;
    }
    const std::size_t close = expr.find(expr[0], 1);
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    std::string value(expr.substr(1, close - 1));
    expr.remove_prefix(close + 1);
    return value;
}

// The string value of a literal or of concat() over literals.
std::optional<std::string> xpath_value(std::string_view expr) {
    constexpr std::string_view kOpen = "concat(";
    if (!expr.starts_with(kOpen)) {
        auto value = read_literal(expr);
        return value && expr.empty() ? value : std::nullopt;
    }
    if (!expr.ends_with(")")) {
        return std::nullopt;
    }
    expr = expr.substr(kOpen.size(), expr.size() - kOpen.size() - 1);
    std::string value;
    int arguments = 0;
    while (true) {
        auto piece = read_literal(expr);
        if (!piece) {
            return std::nullopt;
        }
        value += *piece;
        ++arguments;
        if (expr.empty()) {
            break;
        }
        if (!expr.starts_with(", ")) {
            return std::nullopt;
        }
        expr.remove_prefix(2);
    }
    // concat() takes at least two arguments.
    return arguments >= 2 ? std::optional(value) : std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text = lumox::fuzz::as_text(data, size);
    const std::string literal = xpath_literal(text);
    check(xpath_value(literal) == std::string(text), "the XPath literal does not read back");
    return 0;
}

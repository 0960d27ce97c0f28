#include "xpath.hpp"

namespace lumox::core {

std::string xpath_literal(std::string_view text) {
    if (text.find('\'') == std::string_view::npos) {
        return "'" + std::string(text) + "'";
    }
    if (text.find('"') == std::string_view::npos) {
        return "\"" + std::string(text) + "\"";
    }
    // Both quotes: single-quoted runs without a single quote, each ' as "'".
    std::string out = "concat(";
    std::string run;
    bool first = true;
    auto append = [&](const std::string &piece) {
        out += (first ? "" : ", ") + piece;
        first = false;
    };
    for (char c : text) {
        if (c == '\'') {
            if (!run.empty()) {
                append("'" + run + "'");
                run.clear();
            }
            append("\"'\"");
        } else {
            run += c;
        }
    }
    if (!run.empty()) {
        append("'" + run + "'");
    }
    return out + ")";
}

} // namespace lumox::core

#include "core/locator.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace lumox::core {

namespace {

// Member names and values as the Appium client's AppiumBy (which extends selenium's By).
constexpr std::array<LocatorStrategy, 21> kStrategies{{
    // W3C WebDriver
    {"ID", "id"},
    {"XPATH", "xpath"},
    {"LINK_TEXT", "link text"},
    {"PARTIAL_LINK_TEXT", "partial link text"},
    {"NAME", "name"},
    {"TAG_NAME", "tag name"},
    {"CLASS_NAME", "class name"},
    {"CSS_SELECTOR", "css selector"},
    // Appium
    {"ACCESSIBILITY_ID", "accessibility id"},
    {"ANDROID_UIAUTOMATOR", "-android uiautomator"},
    {"ANDROID_VIEWTAG", "-android viewtag"},
    {"ANDROID_DATA_MATCHER", "-android datamatcher"},
    {"ANDROID_VIEW_MATCHER", "-android viewmatcher"},
    {"IOS_PREDICATE", "-ios predicate string"},
    {"IOS_CLASS_CHAIN", "-ios class chain"},
    {"IMAGE", "-image"},
    {"CUSTOM", "-custom"},
    {"FLUTTER_INTEGRATION_KEY", "-flutter key"},
    {"FLUTTER_INTEGRATION_TYPE", "-flutter type"},
    {"FLUTTER_INTEGRATION_TEXT", "-flutter text"},
    {"FLUTTER_INTEGRATION_SEMANTICS_LABEL", "-flutter semantics label"},
}};

// Decodes the UTF-8 character starting at `pos`; returns its code point and length, or
// a length of 0 for a malformed sequence (never white space then).
std::pair<char32_t, size_t> decode_at(std::string_view text, size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 0;
    if (length == 0 || pos + length > text.size()) {
        return {0, 0};
    }
    char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return {0, 0};
        }
        code = (code << 6) | (next & 0x3F);
    }
    return {code, length};
}

// The characters Python's str.isspace() accepts.
bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 ||
           c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// Length of the white-space character that ends at `end`, or 0.
size_t white_space_before(std::string_view text, size_t end) {
    // A UTF-8 character is at most 4 bytes: try each possible start.
    for (size_t length = 1; length <= 4 && length <= end; ++length) {
        auto [code, decoded] = decode_at(text, end - length);
        if (decoded == length) {
            return is_white_space(code) ? length : 0;
        }
    }
    return 0;
}

void replace_all(std::string &text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return;
    }
    for (size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
}

} // namespace

std::span<const LocatorStrategy> locator_strategies() { return kStrategies; }

std::optional<std::string_view> strategy_for(std::string_view member) {
    auto found = std::find_if(kStrategies.begin(), kStrategies.end(),
                              [&](const LocatorStrategy &s) { return s.member == member; });
    if (found == kStrategies.end()) {
        return std::nullopt;
    }
    return found->strategy;
}

std::optional<std::uint64_t> parse_locator_index(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::string_view strip_white_space(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        auto [code, length] = decode_at(text, begin);
        if (length == 0 || !is_white_space(code)) {
            break;
        }
        begin += length;
    }
    size_t end = text.size();
    while (end > begin) {
        const size_t length = white_space_before(text, end);
        if (length == 0) {
            break;
        }
        end -= length;
    }
    return text.substr(begin, end - begin);
}

std::vector<std::string> split_locator(std::string_view text, std::string_view split,
                                       std::string_view escape, std::string_view escape_target,
                                       std::string *ignored) {
    std::string protected_text(text);
    replace_all(protected_text, std::string(escape) + std::string(split), escape_target);
    if (ignored != nullptr) {
        ignored->clear();
    }

    std::vector<std::string> pieces;
    std::string_view rest = protected_text;
    while (pieces.size() < 3) {
        const size_t at = split.empty() ? std::string_view::npos : rest.find(split);
        pieces.emplace_back(strip_white_space(rest.substr(0, at)));
        if (at == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(at + split.size());
        if (pieces.size() == 3 && ignored != nullptr) {
            *ignored = std::string(split) + std::string(rest);
            replace_all(*ignored, escape_target, std::string(escape) + std::string(split));
        }
    }
    return pieces;
}

std::string unescape_locator_value(std::string_view piece, std::string_view split,
                                   std::string_view escape_target) {
    std::string value(piece);
    replace_all(value, escape_target, split);
    return value;
}

ParsedLocator parse_locator(std::string_view text) {
    ParsedLocator parsed;
    const std::vector<std::string> pieces = split_locator(text);
    parsed.value = unescape_locator_value(pieces[0]);
    if (pieces.size() > 1) {
        const auto strategy = strategy_for(pieces[1]);
        if (!strategy) {
            parsed.error = ParsedLocator::Error::strategy;
            parsed.rejected = pieces[1];
            return parsed;
        }
        parsed.by = *strategy;
    }
    if (pieces.size() > 2) {
        const auto index = parse_locator_index(pieces[2]);
        if (!index) {
            parsed.error = ParsedLocator::Error::index;
            parsed.rejected = pieces[2];
            return parsed;
        }
        parsed.index = *index;
    }
    return parsed;
}

std::string locator_text(std::string_view value, std::string_view by, std::uint64_t index) {
    return "Locator(value='" + std::string(value) + "', by='" + std::string(by) +
           "', index=" + std::to_string(index) + ")";
}

} // namespace lumox::core

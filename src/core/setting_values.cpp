#include "core/setting_values.hpp"

#include "core/ascii_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace lumox::core {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// from_chars takes no leading '+'; drop one (but not "+-1").
std::string_view without_plus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

} // namespace

bool parse_truth(std::string_view text) {
    text = strip_blanks(text);
    static constexpr std::array<std::string_view, 4> truths{"true", "yes", "on", "1"};
    static constexpr std::array<std::string_view, 4> falsities{"false", "no", "off", "0"};
    for (auto word : truths) {
        if (equals_ignoring_case(text, word)) {
            return true;
        }
    }
    for (auto word : falsities) {
        if (equals_ignoring_case(text, word)) {
            return false;
        }
    }
    throw SettingValueError(kExpectedTruth);
}

long long parse_integer(std::string_view text) {
    text = without_plus(strip_blanks(text));
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        throw SettingValueError(kExpectedInteger);
    }
    return value;
}

double parse_seconds(std::string_view text) {
    text = without_plus(strip_blanks(text));
    // from_chars would also take "inf", "nan" and hexadecimal forms; a number of seconds
    // starts with a digit, a sign or a decimal point.
    if (text.empty() || !(is_digit(text[0]) || text[0] == '-' || text[0] == '.')) {
        throw SettingValueError(kExpectedSeconds);
    }
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        throw SettingValueError(kExpectedSeconds);
    }
    if (value < 0) {
        throw SettingValueError(std::string(kExpectedSeconds) + " (zero or more)");
    }
    return value + 0.0; // turns -0.0 into 0.0
}

int parse_port(std::string_view text) {
    long long value = 0;
    try {
        value = parse_integer(text);
    } catch (const SettingValueError &) {
        throw SettingValueError(kExpectedPort);
    }
    if (value < 1 || value > 65535) {
        throw SettingValueError(kExpectedPort);
    }
    return static_cast<int>(value);
}

int parse_count(std::string_view text) {
    long long value = 0;
    try {
        value = parse_integer(text);
    } catch (const SettingValueError &) {
        throw SettingValueError(kExpectedCount);
    }
    if (value < 0 || value > 1'000'000) {
        throw SettingValueError(kExpectedCount);
    }
    return static_cast<int>(value);
}

void check_http_url(std::string_view text) {
    auto fail = [] { throw SettingValueError(kExpectedHttpUrl); };
    if (text.find_first_of(kAsciiBlanks) != std::string_view::npos) {
        fail();
    }
    std::string_view rest;
    if (text.size() > 7 && equals_ignoring_case(text.substr(0, 7), "http://")) {
        rest = text.substr(7);
    } else if (text.size() > 8 && equals_ignoring_case(text.substr(0, 8), "https://")) {
        rest = text.substr(8);
    } else {
        fail();
    }
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    if (!authority.empty() && authority[0] == '[') {
        // IPv6 literal: [::1] or [::1]:8080
        const auto closing = authority.find(']');
        if (closing == std::string_view::npos || closing < 2) {
            fail();
        }
        host = authority.substr(0, closing + 1);
        std::string_view after = authority.substr(closing + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                fail();
            }
            port = after.substr(1);
        }
    } else if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) {
        fail();
    }
    // "host:" with an empty port means the scheme's default port, as URL parsers read it.
    if (!port.empty()) {
        if (port.size() > 5 || !std::all_of(port.begin(), port.end(), is_digit)) {
            fail();
        }
        const int number = std::stoi(std::string(port));
        if (number < 1 || number > 65535) {
            fail();
        }
    }
}

} // namespace lumox::core

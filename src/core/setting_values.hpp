// Typed reading of setting texts (from pytest.ini or the environment). Each reader
// accepts surrounding blanks and throws SettingValueError whose text says what was
// expected, so the caller can prefix where the text came from.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace lumox::core {

class SettingValueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// true/false, yes/no, on/off, 1/0 in any case.
bool parse_truth(std::string_view text);
// A whole number with an optional sign.
long long parse_integer(std::string_view text);
// A finite, non-negative number (integer, decimal or exponent form).
double parse_seconds(std::string_view text);
// A TCP port number 1..65535.
int parse_port(std::string_view text);

// A whole number of 0 or more ("2").
int parse_count(std::string_view text);

// Checks that `text` is an http:// or https:// address with a host (and, when a port is
// given, a valid port). Throws SettingValueError otherwise.
void check_http_url(std::string_view text);

// The expected-value phrases used in the errors above.
inline constexpr const char *kExpectedTruth =
    "expected a truth value (true/false, yes/no, on/off, 1/0)";
inline constexpr const char *kExpectedInteger = "expected a whole number";
inline constexpr const char *kExpectedSeconds = "expected a number of seconds";
inline constexpr const char *kExpectedPort = "expected a port number from 1 to 65535";
inline constexpr const char *kExpectedCount = "expected a whole number, 0 or more";
inline constexpr const char *kExpectedHttpUrl =
    "expected an http:// or https:// address with a host";

} // namespace lumox::core

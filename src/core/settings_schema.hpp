// The table of every setting: group (the pytest.ini section), key, kind of value,
// default text and meaning. The Python groups of lumox.settings are built from it, and
// the environment variable of a key is derived from it, so the three never disagree.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace lumox::core {

enum class SettingKind {
    Text,       // any text, may be empty
    Truth,      // true/false; empty means the default
    AutoTruth,  // true/false, or empty for "decide automatically" (None)
    Port,       // 1..65535; empty means the default
    Seconds,    // non-negative number; empty means the default
    Count,      // non-negative whole number; empty means the default
    BaseUrl,    // empty, or an http(s) address
    GridUrl,    // empty (the "not set" marker), or an http(s) address
    DriverKind, // one of kDriverKinds; empty means the default
    // one of kKeywordLibraries (any case), or `module:ClassName` naming a keyword class;
    // empty means the default
    KeywordType,
    // ssl, tls or a word of kPlainSmtp, any case (kept in lower case); empty stays empty
    Encryption,
};

struct SettingSpec {
    std::string_view group;
    std::string_view key;
    SettingKind kind;
    std::string_view default_text;
    bool secret; // kept out of printed representations
    std::string_view meaning;
};

inline constexpr std::string_view kSettingGroups[] = {"lumox", "lumox_api", "lumox_ui"};
// The words that ask for SMTP without encryption. Any other word once meant that too, so
// `SSL` sent the password in the clear: now it is read as ssl, and a typo is an error.
inline constexpr std::string_view kPlainSmtp[] = {"plain", "none", "no", "off", "false"};

inline constexpr std::string_view kDriverKinds[] = {"chrome", "chromium", "firefox",
                                                    "edge",   "android",  "ios"};
inline constexpr std::string_view kKeywordLibraries[] = {"all", "api", "web", "app"};

std::span<const SettingSpec> setting_specs();
// The entry of `group`.`key`, or nullptr.
const SettingSpec *find_setting(std::string_view group, std::string_view key);
// "<GROUP>_<KEY>" upper-cased: LUMOX_VARS_FILE, LUMOX_UI_WAIT_MAX, ...
std::string environment_variable(const SettingSpec &entry);
// What a value of `kind` must look like, for error messages.
std::string expected_value(SettingKind kind);

// A setting's typed value: nothing (automatic / not set), a truth value, a port, seconds,
// or text (plain text, an address, a driver kind name in lower case).
using SettingValue = std::variant<std::monostate, bool, int, double, std::string>;

// Reads `text` (from pytest.ini or the environment) as a value of `entry`; an empty text
// means the default where the kind has one. Throws SettingValueError saying what was
// expected.
SettingValue read_setting(const SettingSpec &entry, std::string_view text);

} // namespace lumox::core

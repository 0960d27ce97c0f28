#include "core/settings_schema.hpp"

#include "core/ascii_text.hpp"
#include "core/references.hpp"
#include "core/setting_values.hpp"

#include <algorithm>

namespace lumox::core {

namespace {

using K = SettingKind;

// Webhook addresses carry their access token, so they count as secrets too.
constexpr SettingSpec kSpecs[] = {
    {"lumox", "vars_file", K::Text, "", false,
     "path of the variables file written at the end of the run; empty: no file"},
    {"lumox", "vars_save", K::Truth, "true", false,
     "save the run's variables to vars_file at the end of the run"},
    {"lumox", "allure_path", K::Text, "allure", false, "command of the Allure report tool"},
    {"lumox", "allure_report", K::Text, "./report", false, "output directory of the HTML report"},
    {"lumox", "allure_show", K::Truth, "false", false,
     "announce and open the report after `lumox report`"},
    {"lumox", "allure_url", K::Text, "", false,
     "address of the published report, sent in the report notice"},
    {"lumox", "allure_local_port", K::Port, "9797", false,
     "port on which `allure open` serves the report"},
    {"lumox", "qywx_url", K::Text, "", true, "WeCom group robot webhook; empty: not sent"},
    {"lumox", "dingding_url", K::Text, "", true, "DingTalk group robot webhook; empty: not sent"},
    {"lumox", "dingding_secret", K::Text, "", true, "DingTalk signing secret; empty: not sent"},
    {"lumox", "email_server", K::Text, "", false, "SMTP host; empty: no e-mail"},
    {"lumox", "email_port", K::Port, "465", false, "SMTP port"},
    {"lumox", "email_account", K::Text, "", false, "SMTP login, also the sender address"},
    {"lumox", "email_password", K::Text, "", true, "SMTP password"},
    {"lumox", "email_to", K::Text, "", false, "recipient address(es)"},
    {"lumox", "email_encryption", K::Encryption, "ssl", false,
     "ssl (SMTP over TLS), tls (STARTTLS), or plain (none) for SMTP without encryption"},
    {"lumox", "email_subject", K::Text, "测试框架有报告啦~", false,
     "subject of the e-mail notices; empty: the default"},
    {"lumox", "email_ca_file", K::Text, "", false,
     "extra CA certificate file (PEM) trusted for the SMTP server; empty: the system's "
     "certificates"},
    {"lumox", "keyword_type", K::KeywordType, "all", false,
     "keyword library of workbook cases: all, api, web, app, or module:ClassName of your own "
     "keyword class"},
    {"lumox", "strict_steps", K::Truth, "false", false,
     "every case or step key of a YAML case that lumox does not know is a collection error "
     "(keys one typo away from lumox's own always are); false leaves other keys to other "
     "plug-ins"},
    {"lumox_api", "base_url", K::BaseUrl, "", false,
     "base address of every HTTP client; relative request URLs are resolved against it"},
    {"lumox_ui", "driver_type", K::DriverKind, "chrome", false,
     "browser started by the WebDriver factory: chrome, chromium, firefox or edge; android "
     "or ios for an app on the Appium server of selenium_grid"},
    {"lumox_ui", "selenium_grid", K::GridUrl, "", false,
     "Selenium Grid hub address for remote browsers, or the Appium server of android and "
     "ios sessions; empty: local browser"},
    {"lumox_ui", "grid_wait", K::Seconds, "300", false,
     "seconds a new remote session waits for a free slot of the hub (as its /status tells) "
     "and retries a session the hub refused for want of one; 0: no waiting"},
    {"lumox_ui", "max_sessions", K::Count, "0", false,
     "remote sessions one process (a pytest-xdist worker) keeps open at once; 0: no limit"},
    {"lumox_ui", "force_click", K::Truth, "false", false,
     "click through JavaScript instead of a native click"},
    {"lumox_ui", "wait_max", K::Seconds, "10", false, "seconds to wait for an element"},
    {"lumox_ui", "wait_poll", K::Seconds, "0.5", false, "seconds between two looks for an element"},
    {"lumox_ui", "touch_css", K::Text, "border: 2px solid red;", false,
     "inline style given to each element found in a browser, to highlight it"},
    {"lumox_ui", "headless", K::AutoTruth, "", false,
     "run local browsers without a window; empty: headless when DISPLAY is unset"},
    {"lumox_ui", "browser_path", K::Text, "", false,
     "browser executable; empty: found automatically"},
    {"lumox_ui", "driver_path", K::Text, "", false,
     "chromedriver/geckodriver executable; empty: found automatically"},
};

} // namespace

std::span<const SettingSpec> setting_specs() { return kSpecs; }

const SettingSpec *find_setting(std::string_view group, std::string_view key) {
    const auto *found = std::find_if(std::begin(kSpecs), std::end(kSpecs), [&](const auto &s) {
        return s.group == group && s.key == key;
    });
    return found == std::end(kSpecs) ? nullptr : found;
}

std::string environment_variable(const SettingSpec &entry) {
    return upper_ascii(std::string(entry.group) + "_" + std::string(entry.key));
}

std::string expected_value(SettingKind kind) {
    switch (kind) {
    case K::Text:
        return "expected a text";
    case K::Truth:
        return kExpectedTruth;
    case K::AutoTruth:
        return std::string(kExpectedTruth) + ", or empty for automatic";
    case K::Port:
        return kExpectedPort;
    case K::Seconds:
        return kExpectedSeconds;
    case K::Count:
        return kExpectedCount;
    case K::BaseUrl:
        return std::string(kExpectedHttpUrl) + ", or empty";
    case K::GridUrl:
        return std::string(kExpectedHttpUrl) + ", or empty for not set";
    case K::DriverKind: {
        std::string text = "expected one of ";
        for (auto kind_name : kDriverKinds) {
            if (kind_name != kDriverKinds[0]) {
                text += ", ";
            }
            text += kind_name;
        }
        return text;
    }
    case K::Encryption:
        return "expected ssl (SMTP over TLS), tls (STARTTLS) or plain (also none, no, off, "
               "false) for SMTP without encryption";
    case K::KeywordType: {
        std::string text = "expected ";
        for (auto library : kKeywordLibraries) {
            text += std::string(library) + ", ";
        }
        text.resize(text.size() - 2);
        return text + " or module:ClassName";
    }
    }
    return {};
}

SettingValue read_setting(const SettingSpec &entry, std::string_view text) {
    if (entry.kind == K::Text) {
        return std::string(text);
    }
    std::string_view value = strip_blanks(text);
    switch (entry.kind) {
    case K::Text:
        break;
    case K::Truth:
        return parse_truth(value.empty() ? entry.default_text : value);
    case K::AutoTruth:
        if (value.empty()) {
            return std::monostate{};
        }
        return parse_truth(value);
    case K::Port:
        return parse_port(value.empty() ? entry.default_text : value);
    case K::Seconds:
        return parse_seconds(value.empty() ? entry.default_text : value);
    case K::Count:
        return parse_count(value.empty() ? entry.default_text : value);
    case K::BaseUrl:
    case K::GridUrl:
        if (value.empty()) {
            return entry.kind == K::BaseUrl ? SettingValue(std::string()) : std::monostate{};
        }
        try {
            check_http_url(value);
        } catch (const SettingValueError &) {
            throw SettingValueError(expected_value(entry.kind));
        }
        return std::string(value);
    case K::DriverKind: {
        const std::string name = lower_ascii(value.empty() ? entry.default_text : value);
        for (auto kind_name : kDriverKinds) {
            if (name == kind_name) {
                return name;
            }
        }
        throw SettingValueError(expected_value(entry.kind));
    }
    case K::Encryption: {
        const std::string name = lower_ascii(value);
        if (name.empty() || name == "ssl" || name == "tls") {
            return name;
        }
        for (auto word : kPlainSmtp) {
            if (name == word) {
                return name;
            }
        }
        throw SettingValueError(expected_value(entry.kind));
    }
    case K::KeywordType: {
        if (value.empty()) {
            value = entry.default_text;
        }
        const std::string name = lower_ascii(value);
        for (auto library : kKeywordLibraries) {
            if (name == library) {
                return name;
            }
        }
        const auto colon = value.find(':');
        if (colon != std::string_view::npos && is_dotted_identifier(value.substr(0, colon)) &&
            is_dotted_identifier(value.substr(colon + 1))) {
            return std::string(value);
        }
        throw SettingValueError(expected_value(entry.kind));
    }
    }
    return std::string(text);
}

} // namespace lumox::core

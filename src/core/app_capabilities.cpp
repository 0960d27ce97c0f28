#include "core/app_capabilities.hpp"

#include "core/ascii_text.hpp"

#include <array>

namespace lumox::core {

namespace {

// The capabilities of the W3C WebDriver standard, which carry no vendor prefix.
constexpr std::array<std::string_view, 11> kStandardCapabilities = {"acceptInsecureCerts",
                                                                    "browserName",
                                                                    "browserVersion",
                                                                    "pageLoadStrategy",
                                                                    "platformName",
                                                                    "proxy",
                                                                    "setWindowRect",
                                                                    "strictFileInteractability",
                                                                    "timeouts",
                                                                    "unhandledPromptBehavior",
                                                                    "webSocketUrl"};

} // namespace

std::optional<std::string> app_platform(std::string_view device_kind) {
    const std::string name = lower_ascii(strip_blanks(device_kind));
    if (name == "android") {
        return "Android";
    }
    if (name == "ios") {
        return "iOS";
    }
    return std::nullopt;
}

std::string appium_capability_name(std::string_view name) {
    if (name.find(':') != std::string_view::npos) {
        return std::string(name);
    }
    for (auto standard : kStandardCapabilities) {
        if (name == standard) {
            return std::string(name);
        }
    }
    return "appium:" + std::string(name);
}

} // namespace lumox::core

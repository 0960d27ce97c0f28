// Mobile app sessions on an Appium server: which device kinds new_driver knows, and how a
// tester's capability names reach the server (Appium 3 refuses bare vendor names).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumox::core {

// "android" -> "Android", "ios" -> "iOS" (the platformName Appium expects); any case and
// surrounding blanks. Anything else gives nothing.
std::optional<std::string> app_platform(std::string_view device_kind);

// The name to send for a capability: W3C standard names and names that already carry a
// vendor prefix ("appium:app", "goog:chromeOptions") as written, any other name with the
// "appium:" prefix ("deviceName" -> "appium:deviceName").
std::string appium_capability_name(std::string_view name);

} // namespace lumox::core

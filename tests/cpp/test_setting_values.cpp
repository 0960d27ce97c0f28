#include "core/setting_values.hpp"
#include "core/settings_schema.hpp"

#include <gtest/gtest.h>

#include <set>

using namespace lumox::core;

namespace {

std::string error_of(auto &&call) {
    try {
        call();
    } catch (const SettingValueError &error) {
        return error.what();
    }
    return "";
}

} // namespace

TEST(SettingValues, TruthValues) {
    for (const char *text : {"true", "TRUE", "Yes", "on", "1", " true "}) {
        EXPECT_TRUE(parse_truth(text)) << text;
    }
    for (const char *text : {"false", "No", "OFF", "0"}) {
        EXPECT_FALSE(parse_truth(text)) << text;
    }
    for (const char *text : {"", "y", "2", "truee", "null"}) {
        EXPECT_EQ(error_of([&] { parse_truth(text); }), kExpectedTruth) << text;
    }
}

TEST(SettingValues, NumbersAndPorts) {
    EXPECT_EQ(parse_integer(" -42 "), -42);
    EXPECT_EQ(parse_integer("+7"), 7);
    EXPECT_EQ(error_of([] { parse_integer("4.0"); }), kExpectedInteger);
    EXPECT_EQ(error_of([] { parse_integer("99999999999999999999"); }), kExpectedInteger);

    EXPECT_DOUBLE_EQ(parse_seconds("10"), 10.0);
    EXPECT_DOUBLE_EQ(parse_seconds("0.5"), 0.5);
    EXPECT_DOUBLE_EQ(parse_seconds(".25"), 0.25);
    EXPECT_DOUBLE_EQ(parse_seconds("1e1"), 10.0);
    EXPECT_DOUBLE_EQ(parse_seconds("0"), 0.0);
    for (const char *text : {"soon", "inf", "nan", "0x10", "10s", "", "1e999"}) {
        EXPECT_EQ(error_of([&] { parse_seconds(text); }), kExpectedSeconds) << text;
    }
    EXPECT_EQ(error_of([] { parse_seconds("-1"); }),
              std::string(kExpectedSeconds) + " (zero or more)");

    EXPECT_EQ(parse_port("1"), 1);
    EXPECT_EQ(parse_port("65535"), 65535);
    for (const char *text : {"0", "65536", "-80", "http", "80.0"}) {
        EXPECT_EQ(error_of([&] { parse_port(text); }), kExpectedPort) << text;
    }
}

TEST(SettingValues, HttpAddresses) {
    for (const char *text :
         {"http://127.0.0.1:8080", "https://example.test/api?x=1", "HTTP://host",
          "http://user:pw@host:1/path", "http://[::1]:4444/wd", "http://host:/"}) {
        EXPECT_NO_THROW(check_http_url(text)) << text;
    }
    for (const char *text :
         {"", "127.0.0.1:8080", "ftp://host", "http://", "http:///path", "http://host:port",
          "http://host:70000", "http://ho st", "http://[::1", "http://:80", "https://user@/x"}) {
        EXPECT_EQ(error_of([&] { check_http_url(text); }), kExpectedHttpUrl) << text;
    }
}

TEST(SettingsSchema, EveryDefaultReadsAsItsKind) {
    std::set<std::string> names;
    for (const auto &entry : setting_specs()) {
        EXPECT_NO_THROW(read_setting(entry, entry.default_text)) << entry.key;
        EXPECT_TRUE(names.insert(environment_variable(entry)).second) << entry.key;
        EXPECT_FALSE(entry.meaning.empty()) << entry.key;
    }
    EXPECT_TRUE(names.count("LUMOX_VARS_FILE"));
    EXPECT_TRUE(names.count("LUMOX_API_BASE_URL"));
    EXPECT_TRUE(names.count("LUMOX_UI_WAIT_MAX"));
}

TEST(SettingsSchema, EmptyTextMeansDefaultOrNothingByKind) {
    const auto *wait_max = find_setting("lumox_ui", "wait_max");
    const auto *headless = find_setting("lumox_ui", "headless");
    const auto *grid = find_setting("lumox_ui", "selenium_grid");
    const auto *base_url = find_setting("lumox_api", "base_url");
    const auto *driver = find_setting("lumox_ui", "driver_type");
    const auto *password = find_setting("lumox", "email_password");
    ASSERT_TRUE(wait_max && headless && grid && base_url && driver && password);
    EXPECT_EQ(find_setting("lumox", "wait_max"), nullptr);

    EXPECT_EQ(std::get<double>(read_setting(*wait_max, " ")), 10.0);
    EXPECT_EQ(std::get<double>(read_setting(*wait_max, "2.5")), 2.5);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(read_setting(*headless, "")));
    EXPECT_FALSE(std::get<bool>(read_setting(*headless, "off")));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(read_setting(*grid, "")));
    EXPECT_EQ(std::get<std::string>(read_setting(*base_url, "")), "");
    EXPECT_EQ(std::get<std::string>(read_setting(*driver, " Firefox ")), "firefox");
    EXPECT_EQ(std::get<std::string>(read_setting(*driver, "")), "chrome");
    // Text is kept exactly, blanks included (a password may hold them).
    EXPECT_EQ(std::get<std::string>(read_setting(*password, " pw ")), " pw ");

    EXPECT_EQ(error_of([&] { read_setting(*driver, "safari"); }),
              "expected one of chrome, chromium, firefox, edge, android, ios");
    EXPECT_EQ(error_of([&] { read_setting(*grid, "hub:4444"); }),
              std::string(kExpectedHttpUrl) + ", or empty for not set");
    EXPECT_EQ(error_of([&] { read_setting(*wait_max, "soon"); }), kExpectedSeconds);
}

#include "core/app_capabilities.hpp"
#include "core/browser_setup.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using lumox::core::BrowserKind;
using lumox::core::find_on_path;
using lumox::core::locate_program;
using lumox::core::parse_browser_kind;
using lumox::core::ProgramSearch;
namespace fs = std::filesystem;

TEST(BrowserKindTest, NamesAreCaseAndBlankInsensitive) {
    EXPECT_EQ(parse_browser_kind("chrome"), BrowserKind::Chromium);
    EXPECT_EQ(parse_browser_kind(" Chromium\n"), BrowserKind::Chromium);
    EXPECT_EQ(parse_browser_kind("FIREFOX"), BrowserKind::Firefox);
    EXPECT_EQ(parse_browser_kind("edge"), BrowserKind::Edge);
    EXPECT_EQ(parse_browser_kind(""), std::nullopt);
    EXPECT_EQ(parse_browser_kind("safari"), std::nullopt);
    EXPECT_EQ(parse_browser_kind("chrome;"), std::nullopt);
}

class ProgramLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumox-browser-setup-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "a");
        fs::create_directories(dir_ / "b");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string make_file(const fs::path &path, bool executable) {
        std::ofstream(path) << "#!/bin/sh\n";
        fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read);
        return path.string();
    }
    std::string path_env() const { return (dir_ / "a").string() + ":" + (dir_ / "b").string(); }
    ProgramSearch search() const {
        return {"chromedriver",
                "lumox_ui.driver_path",
                "install Debian's chromium-driver",
                {(dir_ / "fixed").string()},
                {"first", "second"}};
    }

    fs::path dir_;
};

TEST_F(ProgramLookupTest, PathLookupSkipsNonExecutablesAndDirectories) {
    make_file(dir_ / "a" / "tool", false);
    fs::create_directories(dir_ / "b" / "dir-tool");
    const std::string wanted = make_file(dir_ / "b" / "tool", true);
    EXPECT_EQ(find_on_path("tool", path_env()), wanted);
    EXPECT_EQ(find_on_path("dir-tool", path_env()), std::nullopt);
    EXPECT_EQ(find_on_path("missing", path_env()), std::nullopt);
    // A name with a slash is a path, not something to look up.
    EXPECT_EQ(find_on_path("b/tool", dir_.string()), std::nullopt);
}

TEST_F(ProgramLookupTest, FixedPathsComeBeforeNamesAndNamesKeepTheirOrder) {
    const std::string second = make_file(dir_ / "a" / "second", true);
    const std::string first = make_file(dir_ / "b" / "first", true);
    EXPECT_EQ(locate_program(search(), "", path_env()).path, first);

    const std::string fixed = make_file(dir_ / "fixed", true);
    EXPECT_EQ(locate_program(search(), "", path_env()).path, fixed);
}

TEST_F(ProgramLookupTest, ConfiguredValueWinsAndIsCheckedNotReplaced) {
    make_file(dir_ / "fixed", true);
    const std::string own = make_file(dir_ / "own-driver", true);
    EXPECT_EQ(locate_program(search(), own, path_env()).path, own);

    const std::string on_path = make_file(dir_ / "a" / "named-driver", true);
    EXPECT_EQ(locate_program(search(), "named-driver", path_env()).path, on_path);

    const std::string broken = make_file(dir_ / "not-executable", false);
    auto lookup = locate_program(search(), broken, path_env());
    EXPECT_EQ(lookup.path, std::nullopt);
    EXPECT_EQ(lookup.error, "lumox_ui.driver_path is not an executable file: " + broken);
}

TEST_F(ProgramLookupTest, NothingFoundExplainsHowToGetIt) {
    auto lookup = locate_program(search(), "  ", path_env());
    EXPECT_EQ(lookup.path, std::nullopt);
    EXPECT_EQ(lookup.error, "chromedriver not found: install Debian's chromium-driver or set "
                            "lumox_ui.driver_path");
}

TEST(AppCapabilitiesTest, DeviceKindsAndVendorPrefixes) {
    using lumox::core::app_platform;
    using lumox::core::appium_capability_name;
    EXPECT_EQ(app_platform(" Android "), "Android");
    EXPECT_EQ(app_platform("IOS"), "iOS");
    EXPECT_EQ(app_platform("chrome"), std::nullopt);
    EXPECT_EQ(app_platform(""), std::nullopt);
    EXPECT_EQ(appium_capability_name("deviceName"), "appium:deviceName");
    EXPECT_EQ(appium_capability_name("app"), "appium:app");
    EXPECT_EQ(appium_capability_name("appium:app"), "appium:app");
    EXPECT_EQ(appium_capability_name("goog:chromeOptions"), "goog:chromeOptions");
    EXPECT_EQ(appium_capability_name("platformName"), "platformName");
    EXPECT_EQ(appium_capability_name("timeouts"), "timeouts");
    // Standard names are case-sensitive: anything else is a vendor capability.
    EXPECT_EQ(appium_capability_name("PlatformName"), "appium:PlatformName");
}

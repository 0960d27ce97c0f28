#include "core/ini.hpp"
#include "core/ini_template.hpp"
#include "core/settings_schema.hpp"

#include <gtest/gtest.h>

using namespace lumox::core;

TEST(PytestIniTemplate, ReadsBackWithEverySettingAtItsDefault) {
    const IniDocument doc = parse_ini(pytest_ini_template());
    EXPECT_EQ(doc.get("pytest", "addopts"),
              std::string("--alluredir=") + kAllureResultsDir + " --clean-alluredir");
    for (const SettingSpec &entry : setting_specs()) {
        SCOPED_TRACE(std::string(entry.group) + "." + std::string(entry.key));
        const auto value = doc.get(std::string(entry.group), std::string(entry.key));
        ASSERT_TRUE(value.has_value());
        // Secrets are never written into the file, whatever their default.
        EXPECT_EQ(*value, entry.secret ? "" : std::string(entry.default_text));
        // Each value reads as a value of its kind.
        EXPECT_NO_THROW(read_setting(entry, *value));
    }
}

TEST(PytestIniTemplate, SecretsPointToTheirEnvironmentVariable) {
    const std::string text = pytest_ini_template();
    EXPECT_NE(text.find("(a secret: set LUMOX_DINGDING_SECRET instead)\ndingding_secret =\n"),
              std::string::npos);
}

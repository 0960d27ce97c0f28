// The text of the pytest.ini a new lumox project starts from (packaged as
// file/pytest.ini.txt): pytest's options for a lumox run, then every setting of the table
// in settings_schema with its default and what it means, so the file teaches the settings.
#pragma once

#include <string>

namespace lumox::core {

// The directory pytest writes Allure results to in a new project, read back by
// `lumox report`.
inline constexpr const char *kAllureResultsDir = "./allure-results";

std::string pytest_ini_template();

} // namespace lumox::core

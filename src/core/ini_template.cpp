#include "core/ini_template.hpp"

#include "core/settings_schema.hpp"

namespace lumox::core {

std::string pytest_ini_template() {
    std::string text =
        "# pytest.ini of a lumox project: pytest's options, then lumox's settings in the\n"
        "# sections [lumox], [lumox_api] and [lumox_ui], each key with its default.\n"
        "# An environment variable <SECTION>_<KEY> in capitals (LUMOX_UI_WAIT_MAX) overrides\n"
        "# the file. Keep secrets out of this file: set them in the environment.\n"
        "\n"
        "[pytest]\n"
        "# Allure results of each run, read by `lumox report` (emptied when a run starts).\n"
        "addopts = --alluredir=" +
        std::string(kAllureResultsDir) +
        " --clean-alluredir\n"
        "# Progress lines of lumox (requests, keywords, variables) in failure reports.\n"
        "log_level = INFO\n";
    std::string_view group;
    for (const SettingSpec &entry : setting_specs()) {
        if (entry.group != group) {
            group = entry.group;
            text += "\n[" + std::string(group) + "]\n";
        }
        text += "# " + std::string(entry.meaning);
        if (entry.secret) {
            text += " (a secret: set " + environment_variable(entry) + " instead)";
        }
        text += "\n" + std::string(entry.key) + " =";
        if (!entry.secret && !entry.default_text.empty()) {
            text += " " + std::string(entry.default_text);
        }
        text += "\n";
    }
    return text;
}

} // namespace lumox::core

#include "core/browser_setup.hpp"

#include "core/ascii_text.hpp"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace lumox::core {

std::optional<BrowserKind> parse_browser_kind(std::string_view text) {
    const std::string name = lower_ascii(strip_blanks(text));
    if (name == "chrome" || name == "chromium") {
        return BrowserKind::Chromium;
    }
    if (name == "firefox") {
        return BrowserKind::Firefox;
    }
    if (name == "edge") {
        return BrowserKind::Edge;
    }
    return std::nullopt;
}

ProgramSearch driver_search(BrowserKind kind) {
    const std::string setting = "lumox_ui.driver_path";
    switch (kind) {
    case BrowserKind::Firefox:
        return {"geckodriver",
                setting,
                "install geckodriver",
                {"/usr/bin/geckodriver"},
                {"geckodriver"}};
    case BrowserKind::Edge:
        return {"msedgedriver",
                setting,
                "install Microsoft's msedgedriver",
                {"/usr/bin/msedgedriver"},
                {"msedgedriver"}};
    case BrowserKind::Chromium:
        break;
    }
    return {"chromedriver",
            setting,
            "install Debian's chromium-driver",
            {"/usr/bin/chromedriver"},
            {"chromedriver"}};
}

ProgramSearch browser_search(BrowserKind kind) {
    const std::string setting = "lumox_ui.browser_path";
    switch (kind) {
    case BrowserKind::Firefox:
        return {"firefox",
                setting,
                "install Debian's firefox-esr",
                {"/usr/bin/firefox"},
                {"firefox", "firefox-esr"}};
    case BrowserKind::Edge:
        return {"Microsoft Edge",
                setting,
                "install microsoft-edge-stable",
                {"/usr/bin/microsoft-edge"},
                {"microsoft-edge", "microsoft-edge-stable"}};
    case BrowserKind::Chromium:
        break;
    }
    return {"chromium",
            setting,
            "install Debian's chromium",
            {"/usr/bin/chromium"},
            {"chromium", "google-chrome"}};
}

bool is_executable_file(const std::string &path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> find_on_path(std::string_view name, std::string_view path_env) {
    if (name.empty() || name.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    std::size_t start = 0;
    while (start <= path_env.size()) {
        std::size_t end = path_env.find(':', start);
        if (end == std::string_view::npos) {
            end = path_env.size();
        }
        std::string dir(path_env.substr(start, end - start));
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + std::string(name);
        if (is_executable_file(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

ProgramLookup locate_program(const ProgramSearch &search, std::string_view configured,
                             std::string_view path_env) {
    const std::string_view wanted = strip_blanks(configured);
    if (!wanted.empty()) {
        std::string path(wanted);
        if (path.find('/') == std::string::npos) {
            if (auto found = find_on_path(path, path_env)) {
                return {found, {}};
            }
        } else if (is_executable_file(path)) {
            return {path, {}};
        }
        return {std::nullopt, search.setting + " is not an executable file: " + path};
    }
    for (const auto &path : search.fixed_paths) {
        if (is_executable_file(path)) {
            return {path, {}};
        }
    }
    for (const auto &name : search.names) {
        if (auto found = find_on_path(name, path_env)) {
            return {found, {}};
        }
    }
    return {std::nullopt,
            search.what + " not found: " + search.install_hint + " or set " + search.setting};
}

std::vector<std::string> chromium_arguments(bool headless, std::string_view user_data_dir) {
    std::vector<std::string> args;
    if (headless) {
        args.emplace_back("--headless=new");
    }
    // CI runs as root, where Chromium refuses to start with its sandbox.
    args.emplace_back("--no-sandbox");
    args.emplace_back("--disable-gpu");
    // /dev/shm is tiny in containers.
    args.emplace_back("--disable-dev-shm-usage");
    // Tests stay on loopback: no update checks, sync or other background traffic.
    args.emplace_back("--disable-background-networking");
    args.emplace_back("--disable-component-update");
    args.emplace_back("--disable-sync");
    args.emplace_back("--no-first-run");
    args.emplace_back("--disable-quic");
    if (!user_data_dir.empty()) {
        args.emplace_back("--user-data-dir=" + std::string(user_data_dir));
    }
    return args;
}

std::vector<std::string> firefox_arguments(bool headless) {
    std::vector<std::string> args;
    if (headless) {
        args.emplace_back("-headless");
    }
    return args;
}

} // namespace lumox::core

// What a local browser session needs before selenium starts it: the browser kind, where
// its driver and browser executables are, and the command-line options of the browser.
// Nothing here downloads anything: programs are found on disk or reported missing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumox::core {

enum class BrowserKind { Chromium, Firefox, Edge };

// "chrome" and "chromium" both mean the Chromium family (ChromeDriver); "firefox", "edge".
// Case and surrounding blanks do not matter; anything else gives nothing.
std::optional<BrowserKind> parse_browser_kind(std::string_view text);

// How one program (a driver or a browser) is looked for.
struct ProgramSearch {
    std::string what;                     // shown in messages, e.g. "chromedriver"
    std::string setting;                  // the setting that names it, e.g. "lumox_ui.driver_path"
    std::string install_hint;             // e.g. "install Debian's chromium-driver"
    std::vector<std::string> fixed_paths; // tried first, in order
    std::vector<std::string> names;       // then looked up on PATH, in order
};

ProgramSearch driver_search(BrowserKind kind);
ProgramSearch browser_search(BrowserKind kind);

// Either the path of the program found, or the message telling why there is none.
struct ProgramLookup {
    std::optional<std::string> path;
    std::string error;
};

// A configured value wins: an executable path, or a bare name looked up on PATH. Without
// one, the fixed paths and then the names on PATH are tried.
ProgramLookup locate_program(const ProgramSearch &search, std::string_view configured,
                             std::string_view path_env);

// `name` looked up in the ':'-separated directories of `path_env` (an empty entry is the
// current directory), like the shell does.
std::optional<std::string> find_on_path(std::string_view name, std::string_view path_env);

bool is_executable_file(const std::string &path);

// Options of a Chromium-family browser run by the test suite: no first-run dialogs, no
// background traffic, and a profile directory of its own when `user_data_dir` is given.
std::vector<std::string> chromium_arguments(bool headless, std::string_view user_data_dir);

std::vector<std::string> firefox_arguments(bool headless);

} // namespace lumox::core

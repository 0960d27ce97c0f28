// pytest.ini and other INI files as a tester may leave them.
#include "core/ascii_text.hpp"
#include "core/ini.hpp"
#include "support.hpp"

#include <set>

using namespace lumox::core;
using lumox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text = lumox::fuzz::as_text(data, size);
    IniDocument document;
    try {
        document = parse_ini(text);
    } catch (const IniError &error) {
        check(error.line() >= 1, "an error line before the first line");
        return 0;
    }
    // Any other exception escapes and libFuzzer reports it.

    std::set<std::string> names;
    for (const std::string &name : document.section_names()) {
        check(names.insert(name).second, "a repeated section was not merged");
        const std::vector<IniEntry> *entries = document.section(name);
        check(entries != nullptr, "a listed section cannot be found");
        std::set<std::string> keys;
        for (const IniEntry &entry : *entries) {
            check(!entry.key.empty(), "an empty key");
            check(entry.key == lower_ascii(entry.key), "a key that is not lower-cased");
            check(strip_blanks(entry.key) == entry.key, "a key that is not stripped");
            check(keys.insert(entry.key).second, "a repeated key was not merged");
            check(entry.line >= 1, "a key before the first line");
            check(entry.value.empty() ||
                      entry.value.find_last_not_of(kAsciiBlanks) == entry.value.size() - 1,
                  "a value with trailing blanks");
            check(document.get(name, upper_ascii(entry.key)) == entry.value,
                  "get() does not find a key in another case");
        }
    }
    return 0;
}

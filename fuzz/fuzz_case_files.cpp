// Case names given to `lumox start` and the file names of case files.
#include "core/case_files.hpp"
#include "support.hpp"

#include <string>

using namespace lumox::core;
using lumox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view name = lumox::fuzz::as_text(data, size);

    if (is_case_file_name(name, {".yaml", ".xlsx"})) {
        check(name.starts_with("test_") && (name.ends_with(".yaml") || name.ends_with(".xlsx")) &&
                  name.size() > 10,
              "a case file name without the test_ prefix or a suffix");
    }

    const auto problem = case_name_problem(name);
    if (problem) {
        check(!problem->empty(), "an empty problem text");
        return 0;
    }
    // An accepted name is a valid sheet title and a portable file name.
    check(!name.empty() && name.find_first_not_of(" \t") != std::string_view::npos,
          "a blank name was accepted");
    check(name.front() != '\'' && name.back() != '\'', "a quote at an end was accepted");
    std::size_t characters = 0;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        check(byte >= 0x20 && byte != 0x7F, "a control character was accepted");
        check(std::string_view("\\/?*[]:\"<>|").find(c) == std::string_view::npos,
              "a forbidden character was accepted");
        characters += (byte & 0xC0) != 0x80; // continuation bytes belong to the character before
    }
    if (lumox::fuzz::is_strict_utf8(name)) {
        check(characters <= 31, "a sheet title longer than 31 characters was accepted");
    }
    return 0;
}

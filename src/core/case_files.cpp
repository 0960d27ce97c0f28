#include "core/case_files.hpp"

namespace lumox::core {

bool is_case_file_name(std::string_view name, std::initializer_list<std::string_view> suffixes) {
    if (!name.starts_with("test_")) {
        return false;
    }
    for (std::string_view suffix : suffixes) {
        if (name.size() > suffix.size() + 5 && name.ends_with(suffix)) {
            return true;
        }
    }
    return false;
}

} // namespace lumox::core

// Which files hold test cases: `test_<anything><suffix>`, as pytest names test modules.
#pragma once

#include <initializer_list>
#include <string_view>

namespace lumox::core {

bool is_case_file_name(std::string_view name, std::initializer_list<std::string_view> suffixes);

} // namespace lumox::core

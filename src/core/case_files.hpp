// Which files hold test cases: `test_<anything><suffix>`, as pytest names test modules.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace lumox::core {

bool is_case_file_name(std::string_view name, std::initializer_list<std::string_view> suffixes);

// Why `name` cannot name a new case workbook test_<name>.xlsx whose case sheet is titled
// `name` (a sheet title: at most 31 characters, none of \ / ? * [ ] :, no quote at either
// end; a portable file name: none of " < > | or control characters), or nothing when it can.
std::optional<std::string> case_name_problem(std::string_view name);

} // namespace lumox::core

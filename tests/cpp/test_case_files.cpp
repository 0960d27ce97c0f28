#include "core/case_files.hpp"

#include <gtest/gtest.h>

using lumox::core::is_case_file_name;

TEST(CaseFileName, NeedsThePrefixASuffixAndSomethingBetween) {
    EXPECT_TRUE(is_case_file_name("test_login.yaml", {".yaml", ".yml"}));
    EXPECT_TRUE(is_case_file_name("test_login.yml", {".yaml", ".yml"}));
    EXPECT_TRUE(is_case_file_name("test_登录.xlsx", {".xlsx"}));
    EXPECT_FALSE(is_case_file_name("login.yaml", {".yaml"}));
    EXPECT_FALSE(is_case_file_name("test_.yaml", {".yaml"}));
    EXPECT_FALSE(is_case_file_name("test_login.yaml.bak", {".yaml"}));
    EXPECT_FALSE(is_case_file_name("test_login.xlsx", {".yaml", ".yml"}));
}

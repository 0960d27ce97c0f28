#include "core/case_files.hpp"

#include <gtest/gtest.h>

using lumox::core::case_name_problem;
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

TEST(CaseName, SheetTitleAndFileNameRules) {
    EXPECT_EQ(case_name_problem("login"), std::nullopt);
    EXPECT_EQ(case_name_problem("登录 流程-2"), std::nullopt);
    EXPECT_EQ(case_name_problem(std::string(31, 'a')), std::nullopt);
    EXPECT_EQ(case_name_problem(std::string(32, 'a')),
              "a sheet title holds at most 31 characters, this one has 32");
    // 31 characters of three bytes each are still 31 characters.
    std::string chinese;
    for (int i = 0; i < 31; ++i) {
        chinese += "登";
    }
    EXPECT_EQ(case_name_problem(chinese), std::nullopt);
    EXPECT_EQ(case_name_problem("a/b"), "'/' cannot be part of a sheet title or file name");
    EXPECT_EQ(case_name_problem("what?"), "'?' cannot be part of a sheet title or file name");
    EXPECT_EQ(case_name_problem("x|y"), "'|' cannot be part of a sheet title or file name");
    EXPECT_EQ(case_name_problem("'quoted'"), "a sheet title cannot begin or end with '");
    EXPECT_EQ(case_name_problem("tab\there"),
              "a sheet title or file name cannot hold control characters");
    EXPECT_EQ(case_name_problem("  "), "a case needs a name");
}

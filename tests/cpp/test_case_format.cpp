#include "core/case_format.hpp"
#include "core/runner_keywords.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace lumox::core;

TEST(CaseFormat, EverySectionDeclaresEachKeyOnceWithMeaningAndSchema) {
    for (const CaseFormatSection &section : case_format_sections()) {
        SCOPED_TRACE(std::string(section.name));
        std::set<std::string_view> seen;
        for (const CaseFormatKey &key : section.keys) {
            SCOPED_TRACE(std::string(key.name));
            EXPECT_TRUE(seen.insert(key.name).second) << "declared twice";
            EXPECT_FALSE(key.meaning.empty());
            ASSERT_FALSE(key.schema.empty());
            EXPECT_EQ(key.schema.front(), '{');
            EXPECT_EQ(key.schema.back(), '}');
        }
    }
    EXPECT_EQ(case_format_section("request").keys.front().name, "method");
    EXPECT_THROW(case_format_section("flows"), std::invalid_argument);
}

TEST(CaseFormat, StepKeysAreFoundByTheirNameOnly) {
    for (const CaseFormatKey &key : case_format_section("step").keys) {
        const auto found = step_key(key.name);
        ASSERT_TRUE(found.has_value()) << key.name;
        EXPECT_EQ(case_format_section("step").keys[static_cast<std::size_t>(*found)].name,
                  key.name);
    }
    EXPECT_EQ(step_key("with"), StepKey::With);
    EXPECT_FALSE(step_key("Request").has_value()); // keys are case-sensitive
    EXPECT_FALSE(step_key("sql").has_value());     // another plug-in's
}

TEST(RunnerKeywords, ArgumentsAndDocumentationComeFromTheParameters) {
    EXPECT_EQ(runner_arguments(kRetryKeyword), "times=3, delay=1, rows=1, until");
    EXPECT_EQ(runner_arguments(kRunSheetKeyword), "sheet, name=value...");
    EXPECT_EQ(runner_doc(kUseDataKeyword), "关键字：use_data\n"
                                           "用例按数据表的每一行执行一次，{列名} 读取该行的值\n"
                                           ":param sheet: 数据表（同一工作簿中的表，第1行为列名）");
}

#include "core/yaml_hints.hpp"

#include <gtest/gtest.h>

using lumox::core::yaml_mistake_hint;

TEST(YamlMistakeHint, NamesTheCommonMistakesOnly) {
    EXPECT_EQ(yaml_mistake_hint("found unhashable key", "a: 1\n      tok: {{ tok }}\n", 1),
              "hint: quote a value that starts with {{, as in tok: \"{{ tok }}\"; unquoted, YAML "
              "reads { as the start of a mapping");
    EXPECT_EQ(yaml_mistake_hint("found character '\\t' that cannot start any token",
                                "steps:\n\t- x\n", 1),
              "hint: YAML indents with blanks, not tabs: line 2 holds a tab");
    // The glued key is the line before the one PyYAML stops at.
    EXPECT_EQ(yaml_mistake_hint("mapping values are not allowed here",
                                "  - request:\n      method:GET\n      url: /x\n", 2),
              "hint: line 2 has 'method:GET' with no blank after ':', so YAML reads it as one "
              "text; write 'method: GET'");
    // An address is no glued key; the generic advice stands.
    EXPECT_EQ(yaml_mistake_hint("mapping values are not allowed here", "url: http://x/a: b\n", 0)
                  .rfind("hint: a value holding ': '", 0),
              0u);
    EXPECT_EQ(yaml_mistake_hint("found unhashable key", "a: {[1]: 2}\n", 0), "");
    EXPECT_EQ(yaml_mistake_hint("anything else", "a\n", 0), "");
    EXPECT_EQ(yaml_mistake_hint("found unhashable key", "a\n", 7), ""); // past the text
}

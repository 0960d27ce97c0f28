// Variable references in the text arguments of workbook steps: `{name}` stands for the
// run variable `name`. Only a brace pair around an identifier is a reference, so JSON
// text such as {"a": 1} or {} passes untouched; `{{name}}` writes a literal `{name}`.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumox::core {

// An identifier: letters, digits and underscores, not starting with a digit. Letters
// beyond ASCII count (用户, café); punctuation, symbols and spaces of any script do not,
// nor do bytes that are not valid UTF-8.
bool is_identifier(std::string_view name);

// Identifiers joined by single dots: a module path such as `pkg.keywords`.
bool is_dotted_identifier(std::string_view name);

// One piece of an argument text: literal text, or the name of a referenced variable.
struct TextPiece {
    bool is_reference;
    std::string text;
    bool operator==(const TextPiece &) const = default;
};

// `text` cut into literal pieces and references, in order. Neighbouring literal text is
// merged into one piece; a text without references gives one literal piece (none when
// it is empty). An escaped `{{name}}` becomes the literal `{name}`.
std::vector<TextPiece> split_references(std::string_view text);

// The variable name when `text` is exactly one reference, `{name}` and nothing else.
std::optional<std::string_view> sole_reference(std::string_view text);

} // namespace lumox::core

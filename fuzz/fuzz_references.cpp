// `{name}` references in the text arguments of workbook steps.
#include "core/references.hpp"
#include "support.hpp"

using namespace lumox::core;
using lumox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text = lumox::fuzz::as_text(data, size);
    const std::vector<TextPiece> pieces = split_references(text);

    std::size_t references = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const TextPiece &piece = pieces[i];
        if (piece.is_reference) {
            ++references;
            check(is_identifier(piece.text), "a reference that is not an identifier");
        } else {
            check(!piece.text.empty(), "an empty literal piece");
            check(i == 0 || pieces[i - 1].is_reference, "neighbouring literal pieces not merged");
        }
    }
    check(!text.empty() || pieces.empty(), "pieces of an empty text");

    // sole_reference agrees with split_references on texts that are one reference.
    const auto sole = sole_reference(text);
    const bool one_reference = pieces.size() == 1 && references == 1;
    check(sole.has_value() == one_reference, "sole_reference and split_references disagree");
    if (sole) {
        check(*sole == pieces[0].text && text.size() == sole->size() + 2,
              "sole_reference names another variable");
    }

    if (is_identifier(text)) {
        check(is_dotted_identifier(text), "an identifier is not a dotted identifier");
    }
    return 0;
}

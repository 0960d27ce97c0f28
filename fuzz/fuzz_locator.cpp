// Locator expressions as testers type them into workbook cells.
#include "core/locator.hpp"
#include "support.hpp"

#include <algorithm>

using namespace lumox::core;
using lumox::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text = lumox::fuzz::as_text(data, size);
    const ParsedLocator parsed = parse_locator(text);

    check(parsed.value.find(kLocatorEscapeTarget) == std::string::npos,
          "the value holds the escape placeholder");
    check(strip_white_space(parsed.value) == parsed.value, "the value is not stripped");

    const auto strategies = locator_strategies();
    switch (parsed.error) {
    case ParsedLocator::Error::none:
        check(std::any_of(strategies.begin(), strategies.end(),
                          [&](const LocatorStrategy &s) { return s.strategy == parsed.by; }),
              "an accepted locator has an unknown strategy");
        check(parsed.rejected.empty(), "an accepted locator names a rejected piece");
        break;
    case ParsedLocator::Error::strategy:
        check(!strategy_for(parsed.rejected), "a known strategy was rejected");
        break;
    case ParsedLocator::Error::index:
        check(!parse_locator_index(parsed.rejected), "a valid index was rejected");
        break;
    }

    // Without separators and escapes the whole text is the value.
    if (text.find(kLocatorSplit) == std::string_view::npos &&
        text.find(kLocatorEscapeTarget) == std::string_view::npos) {
        check(parsed.error == ParsedLocator::Error::none && parsed.value == strip_white_space(text),
              "a text without separators is not its own value");
    }
    return 0;
}

#include "core/suggestions.hpp"

#include <algorithm>
#include <numeric>
#include <utility>

namespace lumox::core {

std::size_t edit_distance(std::string_view a, std::string_view b) {
    // Optimal string alignment: Levenshtein plus the swap of adjacent characters, the
    // commonest typo ("requets").
    const std::size_t rows = a.size() + 1;
    const std::size_t cols = b.size() + 1;
    std::vector<std::size_t> d(rows * cols);
    auto at = [&](std::size_t i, std::size_t j) -> std::size_t & { return d[i * cols + j]; };
    for (std::size_t i = 0; i < rows; ++i) {
        at(i, 0) = i;
    }
    for (std::size_t j = 0; j < cols; ++j) {
        at(0, j) = j;
    }
    for (std::size_t i = 1; i < rows; ++i) {
        for (std::size_t j = 1; j < cols; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            std::size_t best =
                std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                best = std::min(best, at(i - 2, j - 2) + 1);
            }
            at(i, j) = best;
        }
    }
    return at(rows - 1, cols - 1);
}

bool is_near_miss(std::string_view word, std::string_view name) {
    if (word == name) {
        return false;
    }
    const std::size_t allowed = name.size() <= 4 ? 1 : 2;
    // Lengths far apart cannot be close; skips the table for most pairs.
    const std::size_t gap =
        word.size() > name.size() ? word.size() - name.size() : name.size() - word.size();
    return gap <= allowed && edit_distance(word, name) <= allowed;
}

std::vector<std::string> closest_names(std::string_view word, const std::vector<std::string> &names,
                                       std::size_t limit) {
    std::vector<std::pair<std::size_t, std::size_t>> found; // distance, index in names
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (is_near_miss(word, names[i])) {
            found.emplace_back(edit_distance(word, names[i]), i);
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &x, const auto &y) { return x.first < y.first; });
    std::vector<std::string> result;
    for (const auto &[distance, index] : found) {
        if (result.size() == limit) {
            break;
        }
        if (std::find(result.begin(), result.end(), names[index]) == result.end()) {
            result.push_back(names[index]);
        }
    }
    return result;
}

std::string did_you_mean(const std::vector<std::string> &names) {
    if (names.empty()) {
        return {};
    }
    std::string text = "did you mean ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += i + 1 == names.size() ? " or " : ", ";
        }
        text += "'" + names[i] + "'";
    }
    return text + "?";
}

} // namespace lumox::core

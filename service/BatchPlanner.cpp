#include "service/BatchPlanner.hpp"

#include <algorithm>

namespace aurelo::service {

std::size_t characterCount(const std::string& text) {
    return static_cast<std::size_t>(
        std::ranges::count_if(text, [](unsigned char c) { return (c & 0xc0) != 0x80; }));
}

std::vector<std::pair<std::size_t, std::size_t>> planBatches(const std::vector<std::string>& texts,
                                                             const BatchLimits& limits) {
    std::vector<std::pair<std::size_t, std::size_t>> batches;
    std::size_t maxItems = std::max<std::size_t>(limits.maxItems, 1);
    std::size_t first = 0, characters = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::size_t length = characterCount(texts[i]);
        bool full = i - first >= maxItems || (limits.maxCharacters > 0 && i > first &&
                                              characters + length > limits.maxCharacters);
        if (full) {
            batches.emplace_back(first, i);
            first = i;
            characters = 0;
        }
        characters += length;
    }
    if (first < texts.size())
        batches.emplace_back(first, texts.size());
    return batches;
}

} // namespace aurelo::service

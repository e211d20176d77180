#pragma once

// Splits a batch into the requests an upstream service accepts: at most `maxItems` texts and,
// where the service also limits the size, at most `maxCharacters` characters per request.

#include <cstddef>
#include <string>
#include <vector>

namespace aurelo::service {

struct BatchLimits {
    std::size_t maxItems = 0;      // at least 1
    std::size_t maxCharacters = 0; // 0: no size limit
};

// Unicode code points in UTF-8 text (what the providers count as characters).
std::size_t characterCount(const std::string& text);

// Index ranges [first, last) of consecutive texts, in order, each within the limits. A single
// text longer than the size limit goes alone: the upstream service decides what to do with it.
std::vector<std::pair<std::size_t, std::size_t>> planBatches(const std::vector<std::string>& texts,
                                                             const BatchLimits& limits);

} // namespace aurelo::service

#pragma once

#include <string>

namespace aurelo::service {

// What an adapter needs from the operator's configuration: the key, the base URL (empty for the
// provider's public address), the Microsoft region and the model of a language-model engine.
struct EngineSettings {
    std::string apiKey;
    std::string endpoint;
    std::string region;
    std::string model;
};

// `endpoint` without a trailing slash, or `fallback` when it is empty.
inline std::string baseURL(const std::string& endpoint, const std::string& fallback) {
    std::string base = endpoint.empty() ? fallback : endpoint;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

} // namespace aurelo::service

#pragma once

// What differs between the six provider web APIs, as data: how a part of a batch becomes one HTTP
// request, how the provider's JSON answer becomes results, and how many texts one request may
// carry. Everything they have in common (sending, failures, splitting, joining) is ProviderEngine.

#include "platform/HttpSession.hpp"
#include "service/BatchPlanner.hpp"
#include "service/EngineSettings.hpp"
#include "service/TranslationEngine.hpp"
#include "translation/TranslationProvider.hpp"

#include <nlohmann/json.hpp>

namespace aurelo::service {

struct ProviderDialect {
    // The name users know the provider by, in failure messages ("DeepL").
    const char* displayName;
    // The cache identity; a language model's engine appends ":<model>", since two models
    // translate differently, and needs a model name configured.
    const char* identity;
    bool chatModel;
    BatchLimits limits;
    // The request for `texts` (in order) into `target`; method, URL, headers and body.
    HttpRequest (*buildRequest)(const EngineSettings& settings,
                                const std::vector<std::string>& texts, const std::string& target);
    // The results of a 2xx answer, or the failure naming `displayName` when its shape is not the
    // documented one. The count is checked by the caller.
    EngineOutcome (*decodeAnswer)(const nlohmann::json& answer, std::size_t count,
                                  const std::string& displayName);
};

const ProviderDialect& dialectFor(TranslationProvider provider);

} // namespace aurelo::service

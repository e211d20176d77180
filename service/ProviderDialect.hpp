#pragma once

// What differs between the six provider web APIs, as data: how a part of a batch becomes one HTTP
// request, how the provider's JSON answer becomes results, and how many texts one request may
// carry. Everything they have in common (sending, failures, splitting, joining) is ProviderEngine.

#include "platform/HttpSession.hpp"
#include "service/BatchPlanner.hpp"
#include "service/EngineSettings.hpp"
#include "service/Glossary.hpp"
#include "service/TranslationEngine.hpp"
#include "translation/TranslationProvider.hpp"

#include <nlohmann/json.hpp>

namespace aurelo::service {

// One request's worth of a batch: the texts and each as glossary segments (one plain run when no
// term occurs in it), and, for DeepL, the glossary made for their language pair.
struct ProviderPart {
    std::vector<std::string> texts;
    std::vector<std::vector<GlossarySegment>> segments;
    std::string target;
    std::string glossaryId;
    std::string glossarySource;
    // The texts go as markup, and the answers come back as markup.
    bool markup = false;
};

struct ProviderDialect {
    // The name users know the provider by, in failure messages ("DeepL").
    const char* displayName;
    // The cache identity; a language model's engine appends ":<model>", since two models
    // translate differently, and needs a model name configured.
    const char* identity;
    bool chatModel;
    BatchLimits limits;
    // The request for a part; method, URL, headers and body.
    HttpRequest (*buildRequest)(const EngineSettings& settings, const ProviderPart& part);
    // The results of a 2xx answer, or the failure naming `displayName` when its shape is not the
    // documented one. The count is checked by the caller.
    EngineOutcome (*decodeAnswer)(const nlohmann::json& answer, std::size_t count,
                                  const std::string& displayName);
    // Whether a text with these segments makes its request markup; null: never.
    bool (*needsMarkup)(const std::vector<GlossarySegment>& segments);
    // Fixed translations go through a glossary kept at the provider (DeepL), made per language
    // pair: texts are sent in groups by the source language of their terms.
    bool providerGlossary;
};

const ProviderDialect& dialectFor(TranslationProvider provider);

} // namespace aurelo::service

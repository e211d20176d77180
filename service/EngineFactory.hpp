#pragma once

// Builds the engine that serves one enabled engine entry of an account, from the operator's
// provider settings. Settings are read for every request, so a key the administrator sets
// takes effect at once.

#include "service/ApertiumEngine.hpp"
#include "service/DeeplGlossaries.hpp"
#include "service/ProviderHttp.hpp"
#include "service/ServiceDatabase.hpp"

#include <memory>

namespace aurelo::service {

// The backends an engine entry may name: the six providers and the offline demonstration engine.
bool isKnownBackend(const std::string& backend);
// The name users know a backend by ("DeepL", "离线演示引擎 (Apertium)").
std::string backendDisplayName(const std::string& backend);

class EngineFactory {
public:
    EngineFactory(UpstreamContext context, std::shared_ptr<ApertiumRunner> apertium)
        : m_context(std::move(context)), m_apertium(std::move(apertium)) {}

    // `settings` are the provider settings of `engine.backend`. A provider without a key, or a
    // language model without a model name, is refused with the message the user will see.
    // The engine applies `glossary` (none when null).
    std::expected<std::shared_ptr<TranslationEngine>, EngineFailure>
    make(const EngineRecord& engine, const ProviderSettings& settings,
         std::shared_ptr<const Glossary> glossary = {}) const;

    const UpstreamContext& context() const { return m_context; }

private:
    UpstreamContext m_context;
    std::shared_ptr<ApertiumRunner> m_apertium;
    // Shared by every DeepL engine the factory makes: the glossaries already uploaded.
    std::shared_ptr<DeeplGlossaries> m_deeplGlossaries = std::make_shared<DeeplGlossaries>();
};

} // namespace aurelo::service

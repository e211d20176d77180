#include "service/EngineFactory.hpp"

#include "service/ProviderEngine.hpp"
#include "translation/TranslationProvider.hpp"

#include <algorithm>

namespace aurelo::service {

bool isKnownBackend(const std::string& backend) {
    return backend == "apertium" || translationProviderFromRawValue(backend).has_value();
}

std::string backendDisplayName(const std::string& backend) {
    if (backend == "apertium")
        return "离线演示引擎 (Apertium)";
    if (auto provider = translationProviderFromRawValue(backend))
        return std::string(displayName(*provider));
    return backend;
}

std::expected<std::shared_ptr<TranslationEngine>, EngineFailure>
EngineFactory::make(const EngineRecord& engine, const ProviderSettings& stored,
                    std::shared_ptr<const Glossary> glossary) const {
    const std::string& backend = engine.backend;
    if (backend == "apertium")
        return std::make_shared<ApertiumEngine>(m_apertium, std::move(glossary));
    auto provider = translationProviderFromRawValue(backend);
    if (!provider)
        return std::unexpected(EngineFailure{500, "账号的翻译引擎配置无效，请联系管理员。"});
    std::string name = backendDisplayName(backend);
    EngineSettings settings{stored.apiKey, stored.endpoint, stored.region,
                            engine.model.value_or(stored.model)};
    if (settings.apiKey.empty())
        return std::unexpected(notConfigured(name));
    const ProviderDialect& dialect = dialectFor(*provider);
    if (dialect.chatModel) {
        if (settings.model.empty())
            return std::unexpected(notConfigured(name, "模型名称"));
        // The model name becomes part of a URL path (Gemini) and of the cache key.
        if (!std::ranges::all_of(settings.model, [](unsigned char c) {
                return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == ':';
            }))
            return std::unexpected(EngineFailure{500, name + " 的模型名称无效，请联系管理员。"});
    }
    return std::make_shared<ProviderEngine>(m_context, std::move(settings), dialect,
                                            std::move(glossary), m_deeplGlossaries);
}

} // namespace aurelo::service

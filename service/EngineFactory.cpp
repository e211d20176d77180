#include "service/EngineFactory.hpp"

#include "service/ClaudeEngine.hpp"
#include "service/DeepLEngine.hpp"
#include "service/GeminiEngine.hpp"
#include "service/GoogleTranslateEngine.hpp"
#include "service/MicrosoftTranslatorEngine.hpp"
#include "service/OpenAIEngine.hpp"
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
EngineFactory::make(const EngineRecord& engine, const ProviderSettings& stored) const {
    const std::string& backend = engine.backend;
    if (backend == "apertium")
        return std::make_shared<ApertiumEngine>(m_apertium);
    auto provider = translationProviderFromRawValue(backend);
    if (!provider)
        return std::unexpected(EngineFailure{500, "账号的翻译引擎配置无效，请联系管理员。"});
    std::string name = backendDisplayName(backend);
    EngineSettings settings{stored.apiKey, stored.endpoint, stored.region,
                            engine.model.value_or(stored.model)};
    if (settings.apiKey.empty())
        return std::unexpected(notConfigured(name));
    bool isChatModel = *provider == TranslationProvider::OpenAI ||
                       *provider == TranslationProvider::Gemini ||
                       *provider == TranslationProvider::Claude;
    if (isChatModel) {
        if (settings.model.empty())
            return std::unexpected(notConfigured(name, "模型名称"));
        // The model name becomes part of a URL path (Gemini) and of the cache key.
        if (!std::ranges::all_of(settings.model, [](unsigned char c) {
                return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == ':';
            }))
            return std::unexpected(EngineFailure{500, name + " 的模型名称无效，请联系管理员。"});
    }
    switch (*provider) {
    case TranslationProvider::Google:
        return std::make_shared<GoogleTranslateEngine>(m_context, settings);
    case TranslationProvider::DeepL:
        return std::make_shared<DeepLEngine>(m_context, settings);
    case TranslationProvider::Microsoft:
        return std::make_shared<MicrosoftTranslatorEngine>(m_context, settings);
    case TranslationProvider::OpenAI:
        return std::make_shared<OpenAIEngine>(m_context, settings);
    case TranslationProvider::Gemini:
        return std::make_shared<GeminiEngine>(m_context, settings);
    case TranslationProvider::Claude:
        return std::make_shared<ClaudeEngine>(m_context, settings);
    }
    return std::unexpected(EngineFailure{500, "账号的翻译引擎配置无效，请联系管理员。"});
}

} // namespace aurelo::service

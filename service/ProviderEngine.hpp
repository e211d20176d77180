#pragma once

// An engine behind one provider's web API: the key, endpoint and model the administrator
// configured, the provider's dialect, and the account's glossary. A batch is split by the
// provider's limits (and, for DeepL, by the language pair of its glossary terms), the parts are
// sent at once and their answers joined in order; one failed part fails the whole batch.

#include "service/DeeplGlossaries.hpp"
#include "service/ProviderDialect.hpp"
#include "service/ProviderHttp.hpp"

#include <memory>

namespace aurelo::service {

class ProviderEngine final : public TranslationEngine,
                             public std::enable_shared_from_this<ProviderEngine> {
public:
    ProviderEngine(UpstreamContext context, EngineSettings settings, const ProviderDialect& dialect,
                   std::shared_ptr<const Glossary> glossary = {},
                   std::shared_ptr<DeeplGlossaries> deeplGlossaries = {})
        : m_context(std::move(context)), m_settings(std::move(settings)), m_dialect(dialect),
          m_glossary(std::move(glossary)), m_deeplGlossaries(std::move(deeplGlossaries)) {}

    std::string identity() const override;
    std::string glossaryVersion() const override {
        return m_glossary ? m_glossary->version() : std::string();
    }
    void translate(std::vector<std::string> texts, std::string target,
                   EngineCompletion completion) override;

private:
    void translatePart(ProviderPart part, EngineCompletion completion);

    UpstreamContext m_context;
    EngineSettings m_settings;
    const ProviderDialect& m_dialect;
    std::shared_ptr<const Glossary> m_glossary;
    std::shared_ptr<DeeplGlossaries> m_deeplGlossaries;
};

} // namespace aurelo::service

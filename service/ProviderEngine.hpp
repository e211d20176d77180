#pragma once

// An engine behind one provider's web API: the key, endpoint and model the administrator
// configured, and the provider's dialect. A batch is split by the provider's limits, the parts are
// sent at once and their answers joined in order; one failed part fails the whole batch.

#include "service/ProviderDialect.hpp"
#include "service/ProviderHttp.hpp"

#include <memory>

namespace aurelo::service {

class ProviderEngine final : public TranslationEngine,
                             public std::enable_shared_from_this<ProviderEngine> {
public:
    ProviderEngine(UpstreamContext context, EngineSettings settings, const ProviderDialect& dialect)
        : m_context(std::move(context)), m_settings(std::move(settings)), m_dialect(dialect) {}

    std::string identity() const override;
    void translate(std::vector<std::string> texts, std::string target,
                   EngineCompletion completion) override;

private:
    void translatePart(std::vector<std::string> texts, const std::string& target,
                       EngineCompletion completion);

    UpstreamContext m_context;
    EngineSettings m_settings;
    const ProviderDialect& m_dialect;
};

} // namespace aurelo::service

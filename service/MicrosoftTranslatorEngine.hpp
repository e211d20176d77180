#pragma once

#include "service/EngineSettings.hpp"
#include "service/ProviderHttp.hpp"

namespace aurelo::service {

class MicrosoftTranslatorEngine final : public ChunkedEngine {
public:
    MicrosoftTranslatorEngine(UpstreamContext context, EngineSettings settings)
        : m_context(std::move(context)), m_settings(std::move(settings)) {}

    std::string identity() const override;

protected:
    BatchLimits limits() const override;
    void translateChunk(std::vector<std::string> texts, const std::string& target,
                        EngineCompletion completion) override;
    std::string displayName() const override;

private:
    UpstreamContext m_context;
    EngineSettings m_settings;
};

} // namespace aurelo::service

#pragma once

#include "service/ProviderHttp.hpp"

namespace aurelo::service {

class GeminiEngine final : public ProviderEngine {
public:
    using ProviderEngine::ProviderEngine;

    std::string identity() const override;

protected:
    BatchLimits limits() const override;
    void translateChunk(std::vector<std::string> texts, const std::string& target,
                        EngineCompletion completion) override;
    std::string displayName() const override;
};

} // namespace aurelo::service

// Engine names: the service's labels first, the built-in display names after.
#include "viewmodels/EngineNames.hpp"

#include "translation/TranslationProvider.hpp"

#include <algorithm>

namespace aurelo {

std::optional<std::string> EngineNames::label(const std::vector<RemoteEngine>& engines,
                                              std::string_view provider) {
    for (const auto& engine : engines)
        if (engine.provider == provider)
            return engine.label;
    if (auto known = translationProviderFromRawValue(provider))
        return std::string(displayName(*known));
    return std::nullopt;
}

std::vector<EngineChoice> EngineNames::choices(const std::vector<RemoteEngine>& engines,
                                               std::string_view current) {
    std::vector<EngineChoice> result;
    const auto listed = [&result](std::string_view provider) {
        return std::ranges::find(result, provider, &EngineChoice::provider) != result.end();
    };
    for (const auto& engine : engines)
        if (translationProviderFromRawValue(engine.provider) && !listed(engine.provider))
            result.push_back({engine.provider, engine.label});
    if (result.empty())
        for (auto provider : kAllTranslationProviders)
            result.push_back({std::string(rawValue(provider)), std::string(displayName(provider))});
    if (!current.empty() && !listed(current))
        if (auto name = label(engines, current))
            result.push_back({std::string(current), *name});
    return result;
}

} // namespace aurelo

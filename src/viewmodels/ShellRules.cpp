#include "viewmodels/ShellRules.hpp"

#include <algorithm>

namespace aurelo {

bool applyEngineListChange(const std::vector<std::string>& providers, SettingsStore& settings) {
    if (providers.empty())
        return false;
    if (std::ranges::find(providers, rawValue(settings.provider())) != providers.end())
        return false;
    auto first = translationProviderFromRawValue(providers.front());
    if (!first)
        return false;
    switchToOfferedProvider(settings, *first, "已自动切换到管理员启用的 ");
    settings.setConnectionStatus(ProviderConnectionStatus::unverified());
    return true;
}

std::vector<OfferedEngine> offeredEngines(const std::vector<RemoteEngine>& engines) {
    std::vector<OfferedEngine> offered;
    for (const auto& engine : engines) {
        auto provider = translationProviderFromRawValue(engine.provider);
        if (!provider || std::ranges::find(offered, *provider, &OfferedEngine::provider) !=
                             offered.end())
            continue;
        offered.push_back({*provider, engine.label});
    }
    return offered;
}

void switchToOfferedProvider(SettingsStore& settings, TranslationProvider provider,
                             std::string_view messagePrefix) {
    // Only the provider is written: other settings the user is still editing stay unsaved.
    settings.storeProvider(provider);
    settings.setStatusMessage(std::string(messagePrefix) + std::string(displayName(provider)));
}

std::vector<SessionShortcutItem> sessionShortcutItems(const std::vector<ChatSession>& sessions) {
    std::vector<SessionShortcutItem> items;
    for (std::size_t i = 0; i < sessions.size() && i < 9; ++i) {
        const std::string digit = std::to_string(i + 1);
        items.push_back({sessions[i].id, digit + ". " + sessions[i].name, "<Primary>" + digit});
    }
    return items;
}

bool loginButtonEnabled(const std::string& username, const std::string& password, bool isWorking) {
    return !username.empty() && !password.empty() && !isWorking;
}

} // namespace aurelo

namespace aurelo {

std::optional<std::string> captionCopyText(const std::string& source, const std::string& translated) {
    if (source.empty())
        return std::nullopt;
    if (translated.empty())
        return source;
    return "原文：" + source + "\n中文：" + translated;
}

} // namespace aurelo

namespace aurelo {

std::optional<std::string> detectedLanguageLabel(const std::string& code) {
    if (code.empty())
        return std::nullopt;
    if (code.starts_with("zh"))
        return "中文";
    if (code == "en")
        return "英语";
    return code;
}

} // namespace aurelo

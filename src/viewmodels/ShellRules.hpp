#pragma once

// Small rules of the application shell: the engine-list watcher, the session-switch menu and the
// login button.

#include "models/AccountStore.hpp"
#include "models/ChatSession.hpp"
#include "models/SettingsStore.hpp"

#include <string>
#include <vector>

namespace aurelo {

// When the service offers a new engine list that lacks the selected provider, switch to the
// first offered provider (if it is one we know) and say so. Returns whether it switched.
bool applyEngineListChange(const std::vector<std::string>& providers, SettingsStore& settings);

// An engine of the account that names a provider we know, with the service's label for it.
struct OfferedEngine {
    TranslationProvider provider;
    std::string label;
    friend bool operator==(const OfferedEngine&, const OfferedEngine&) = default;
};

// The account's engines whose provider value is one we know, in the service's order; an engine
// naming a provider already listed is left out.
std::vector<OfferedEngine> offeredEngines(const std::vector<RemoteEngine>& engines);

// Selects `provider` and stores it at once, then reports the switch as `messagePrefix`
// followed by the provider's display name. The engine watcher and the settings page each
// report in their own words.
void switchToOfferedProvider(SettingsStore& settings, TranslationProvider provider,
                             std::string_view messagePrefix);

struct SessionShortcutItem {
    std::string sessionID;
    std::string title;       // "1. 客服一"
    std::string accelerator; // "<Primary>1"
};

// The items of the session-switch menu: the first nine sessions, in list order.
std::vector<SessionShortcutItem> sessionShortcutItems(const std::vector<ChatSession>& sessions);

// The login button is enabled when both fields hold something (spaces count) and no login runs.
bool loginButtonEnabled(const std::string& username, const std::string& password, bool isWorking);

} // namespace aurelo

namespace aurelo {

// What "复制文字" of the caption strip copies: nothing without a source text, the source alone
// without a translation, otherwise both on labelled lines.
std::optional<std::string> captionCopyText(const std::string& source, const std::string& translated);

} // namespace aurelo

namespace aurelo {

// The translation box's "检测到：" text for a reported language code: "中文" for any Chinese
// code, "英语" for English, the code itself otherwise; nothing when no code was reported.
std::optional<std::string> detectedLanguageLabel(const std::string& code);

} // namespace aurelo

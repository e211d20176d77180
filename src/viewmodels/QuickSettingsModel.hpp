#pragma once

// The quick-settings strip under the tab bar: the translation settings of the selected account,
// each read from the account and falling back to the global setting, and written to the
// account only (with no account selected, writes are dropped).

#include "models/AccountStore.hpp"
#include "models/SessionStore.hpp"
#include "models/SettingsStore.hpp"
#include "viewmodels/MainWindowPreferences.hpp"
#include "viewmodels/TranslationLook.hpp"
#include "web/PageScript.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <optional>
#include <set>
#include <string>

namespace aurelo {

class QuickSettingsModel {
public:
    // `reloadPages` gives every page a new reload token, so that they load again with the
    // current settings.
    QuickSettingsModel(SessionStore& store, SettingsStore& settings, AccountStore& account,
                       MainWindowPreferences& preferences, std::function<void()> reloadPages);
    QuickSettingsModel(const QuickSettingsModel&) = delete;
    QuickSettingsModel& operator=(const QuickSettingsModel&) = delete;
    ~QuickSettingsModel();

    bool hasSelection() const { return selected() != nullptr; }

    ChatLanguage quickIncomingLanguage() const;
    ChatLanguage quickOutgoingLanguage() const;
    // "收到 → 简体中文   ·   发送 → 英语".
    std::string summaryLine() const;

    std::string inputLanguageCode() const;
    void setInputLanguageCode(const std::string& code);
    std::string outgoingLanguageCode() const;
    // Chinese is never an outgoing language: "zh-CN" is stored as "en".
    void setOutgoingLanguageCode(const std::string& code);
    std::string incomingLanguageCode() const;
    void setIncomingLanguageCode(const std::string& code);
    // What the strip says when the selected account's platform does not translate before
    // sending; its pages say the same.
    static constexpr std::string_view kSendTranslationUnavailable = kSendTranslationUnavailableNote;
    // Whether the selected account's pages translate outgoing text before sending (only
    // WhatsApp's do). Without a selection the strip shows the global switch, which is.
    bool sendTranslationAvailable() const;
    bool sendTranslationEnabled() const;
    void setSendTranslationEnabled(bool enabled);
    bool receiveTranslationEnabled() const;
    void setReceiveTranslationEnabled(bool enabled);
    double translationFontSize() const;
    void setTranslationFontSize(double size);
    RgbColor translationFontColor() const;
    void setTranslationFontColor(const RgbColor& color);
    // The raw value of the account's engine.
    std::string provider() const;
    // Stores the engine and reloads every page with it.
    void setProvider(const std::string& provider);
    // The engine menu's title: the service's label for the engine, else its display name, else
    // "翻译服务".
    std::string selectedProviderLabel() const;

    // A global preference, shown in the strip for convenience.
    bool groupTranslationEnabled() const { return m_preferences.groupTranslationEnabled(); }
    void setGroupTranslationEnabled(bool enabled) {
        m_preferences.setGroupTranslationEnabled(enabled);
    }

    // Why nothing is translated under the messages of the selected account's page: the page has
    // reported that it shows no chat messages the page script knows. WhatsApp's pages are known,
    // so there the reason is only that no chat is open, and nothing is said. Empty otherwise.
    static constexpr std::string_view kMessagesUnrecognised =
        "此网站的消息未识别：可用划词翻译和整页翻译";
    std::string_view recognitionNote() const;
    // A page's report; the last one of each account counts.
    void messagesRecognised(const std::string& sessionID, bool recognised);

    // "应用设置": every page loads again with the current settings.
    void applySettings() { m_reloadPages(); }

    // Emitted whenever anything the strip shows may have changed.
    sigc::signal<void()>& signalChanged() { return m_changed; }

private:
    const ChatSession* selected() const;
    // Writes a changed copy of the selected session back to the store; nothing without one.
    void updateSelected(const std::function<void(ChatSession&)>& change);

    SessionStore& m_store;
    SettingsStore& m_settings;
    AccountStore& m_account;
    MainWindowPreferences& m_preferences;
    std::function<void()> m_reloadPages;
    std::vector<sigc::connection> m_connections;
    std::set<std::string> m_unrecognised;
    sigc::signal<void()> m_changed;
};

} // namespace aurelo

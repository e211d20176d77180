#pragma once

// The account sheets of the main window: the new-account form (basic, translation, proxy and
// appearance sections), the custom-website dialog and the per-account settings sheet. The form
// fields live here, with their validation and the code that turns them into a session; the
// sheets only bind to them.

#include "models/PlatformCatalogue.hpp"
#include "models/SessionStore.hpp"

#include <sigc++/sigc++.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace aurelo {

class SessionFormModel {
public:
    enum class Field {
        ShowingAddSession,
        NewSessionName,
        NewSessionPlatformID,
        NewSessionProxyEnabled,
        NewSessionSendTranslation,
        NewSessionReceiveTranslation,
        NewSessionFontSize,
        NewSessionFontColor,
        NewSessionSetupSection,
        SessionInputLanguage,
        SessionOutgoingLanguage,
        SessionIncomingLanguage,
        SessionOwnMessageLanguage,
        SessionProvider,
        SessionProxyType,
        SessionProxyHost,
        SessionProxyPort,
        ShowingAddWebsite,
        WebsiteName,
        WebsiteAddress,
        WebsiteError,
        ShowingSessionSettings,
        SessionSettingsError,
    };

    // The sections of the new-account form, by the text `newSessionSetupSection` holds.
    enum class SetupSection { Basic, Translation, Proxy, Appearance };
    static constexpr std::array<std::string_view, 4> kSetupSectionTitles{"基础设置", "翻译设置",
                                                                         "网络代理", "外观设置"};

    struct ProxyTypeChoice {
        std::string_view title;
        std::string_view value; // what the session stores
    };
    static constexpr std::array<ProxyTypeChoice, 2> kProxyTypes{
        {{"HTTP CONNECT", "http"}, {"SOCKS5", "socks5"}}};

    // The counter under the name field shows the name's length against this; it does not cut.
    static constexpr int kSuggestedNameLength = 30;
    static constexpr double kMinimumNewSessionFontSize = 16;

    static constexpr std::string_view kWebsiteNameMissing = "请输入网站名称。";
    static constexpr std::string_view kWebsiteAddressInvalid = "请输入正确的网站地址。";
    static constexpr std::string_view kSessionSettingsPortInvalid =
        "代理端口必须在 1–65535 之间；不使用代理时请清空代理主机。";

    // What the window provides: the global values a session falls back to, and what follows a
    // save there (the new tab made visible with the panels closed; every page reloaded).
    struct Hooks {
        std::function<SessionDefaults()> sessionDefaults;
        std::function<void()> newSessionSaved;
        std::function<void()> sessionSettingsSaved;
    };

    SessionFormModel(SessionStore& store, Hooks hooks);
    SessionFormModel(const SessionFormModel&) = delete;
    SessionFormModel& operator=(const SessionFormModel&) = delete;

    bool showingAddSession() const { return m_showingAddSession; }
    const std::string& newSessionName() const { return m_newSessionName; }
    const std::string& newSessionPlatformID() const { return m_newSessionPlatformID; }
    bool newSessionProxyEnabled() const { return m_newSessionProxyEnabled; }
    bool newSessionSendTranslation() const { return m_newSessionSendTranslation; }
    bool newSessionReceiveTranslation() const { return m_newSessionReceiveTranslation; }
    double newSessionFontSize() const { return m_newSessionFontSize; }
    const std::string& newSessionFontColor() const { return m_newSessionFontColor; }
    const std::string& newSessionSetupSection() const { return m_newSessionSetupSection; }
    const std::string& sessionInputLanguage() const { return m_sessionInputLanguage; }
    const std::string& sessionOutgoingLanguage() const { return m_sessionOutgoingLanguage; }
    const std::string& sessionIncomingLanguage() const { return m_sessionIncomingLanguage; }
    const std::string& sessionOwnMessageLanguage() const { return m_sessionOwnMessageLanguage; }
    const std::string& sessionProvider() const { return m_sessionProvider; }
    const std::string& sessionProxyType() const { return m_sessionProxyType; }
    const std::string& sessionProxyHost() const { return m_sessionProxyHost; }
    const std::string& sessionProxyPort() const { return m_sessionProxyPort; }
    bool showingAddWebsite() const { return m_showingAddWebsite; }
    const std::string& websiteName() const { return m_websiteName; }
    const std::string& websiteAddress() const { return m_websiteAddress; }
    const std::string& websiteError() const { return m_websiteError; }
    bool showingSessionSettings() const { return m_showingSessionSettings; }
    const std::string& sessionSettingsError() const { return m_sessionSettingsError; }

    void setShowingAddSession(bool value);
    void setNewSessionName(std::string value);
    void setNewSessionProxyEnabled(bool value);
    void setNewSessionSendTranslation(bool value);
    void setNewSessionReceiveTranslation(bool value);
    void setNewSessionFontSize(double value);
    void setNewSessionFontColor(std::string value);
    void setNewSessionSetupSection(std::string value);
    void setSessionInputLanguage(std::string value);
    void setSessionOutgoingLanguage(std::string value);
    void setSessionIncomingLanguage(std::string value);
    void setSessionOwnMessageLanguage(std::string value);
    void setSessionProvider(std::string value);
    void setSessionProxyType(std::string value);
    void setSessionProxyHost(std::string value);
    void setSessionProxyPort(std::string value);
    void setShowingAddWebsite(bool value);
    void setWebsiteName(std::string value);
    void setWebsiteAddress(std::string value);
    void setShowingSessionSettings(bool value);

    // An app-centre tile: the custom-website entry opens the website dialog, any other the
    // new-account form for its platform.
    void addPlatform(const PlatformEntry& entry);
    // "+" of the tab bar: the new-account form for the platform of the selected account.
    void beginAddCurrentPlatformSession();
    // Fills the new-account form from the global settings and opens it.
    void prepareNewSession(const std::string& platformID, const std::string& suggestedName);
    bool newSessionFormIsValid() const;
    // "添加账号": creates the account, writes the form into it and closes the form.
    void saveNewSession();
    // "添加" of the website dialog.
    void saveWebsite();
    // Opens the per-account settings sheet with the selected account's effective values, so
    // that saving without edits leaves the account as it was. Nothing without a selection.
    void beginSessionSettings();
    // "保存并重新载入": writes the languages, engine and proxy into the selected account.
    void saveSessionSettings();

    // What the new-account sheet shows.
    std::string newSessionTitle() const; // "新增 Telegram"
    std::string nameCounterText() const; // "7/30"
    std::string_view footerHint() const;
    SetupSection shownSetupSection() const;
    // The swatch matching the form colour, or nullopt when the colour is a custom one.
    std::optional<std::size_t> selectedSwatch() const;

    // A decimal integer as typed: an optional "+" or "-" and ASCII digits, nothing else (no
    // blanks); nullopt when it is not one or does not fit.
    static std::optional<long long> parseDecimalInteger(std::string_view text);
    // The proxy port rule of both sheets: a decimal integer in 1…65535.
    static bool isValidProxyPort(std::string_view text);
    // The website dialog's address: trimmed, "https://" in front when it names no scheme; the
    // normalised address when it parses as an http or https address with a host.
    static std::optional<std::string> normalizedWebsiteAddress(std::string_view typed);

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    template <typename T> void assign(T& member, T value, Field field);
    const ChatSession* selectedSession() const;

    SessionStore& m_store;
    Hooks m_hooks;

    bool m_showingAddSession = false;
    std::string m_newSessionName;
    std::string m_newSessionPlatformID = "whatsapp";
    bool m_newSessionProxyEnabled = false;
    bool m_newSessionSendTranslation = true;
    bool m_newSessionReceiveTranslation = true;
    double m_newSessionFontSize = 18;
    std::string m_newSessionFontColor = "#D4AF37";
    std::string m_newSessionSetupSection = "基础设置";
    std::string m_sessionInputLanguage = "auto";
    std::string m_sessionOutgoingLanguage = "en";
    std::string m_sessionIncomingLanguage = "zh-CN";
    std::string m_sessionOwnMessageLanguage = "zh-CN";
    std::string m_sessionProvider = "openai";
    std::string m_sessionProxyType = "http";
    std::string m_sessionProxyHost;
    std::string m_sessionProxyPort;
    bool m_showingAddWebsite = false;
    std::string m_websiteName;
    std::string m_websiteAddress;
    std::string m_websiteError;
    bool m_showingSessionSettings = false;
    std::string m_sessionSettingsError;

    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo

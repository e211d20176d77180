#include "viewmodels/SessionFormModel.hpp"

#include "platform/GRef.hpp"
#include "translation/TranslationService.hpp"
#include "viewmodels/TranslationLook.hpp"

#include <glib.h>

#include <algorithm>
#include <limits>

namespace aurelo {

template <> struct GRefTraits<GUri> {
    static GUri* ref(GUri* p) { return g_uri_ref(p); }
    static void unref(GUri* p) { g_uri_unref(p); }
};

namespace {

std::string trimmed(std::string_view text) {
    return TranslationService::trimmed(text);
}

std::string lowercasedASCII(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = g_ascii_tolower(c);
    return result;
}

const PlatformEntry* catalogueEntry(std::string_view id) {
    for (const auto& entry : platformEntries())
        if (entry.id == id)
            return &entry;
    return nullptr;
}

// The name the form suggests for a platform: none for WhatsApp, whose accounts the store
// numbers itself, the platform's name for every other.
std::string suggestedName(const PlatformEntry& entry) {
    return entry.name == "WhatsApp" ? std::string() : entry.name;
}

// The platform of the account the "+" button copies: WhatsApp without an address, then the
// three platforms known by domain, then the host itself.
std::string addPlatformKey(const ChatSession& session) {
    if (!session.urlString)
        return "whatsapp";
    const std::string host = session.host().value_or("");
    if (host.find("whatsapp.com") != std::string::npos)
        return "whatsapp";
    if (host.find("instagram.com") != std::string::npos)
        return "instagram";
    if (host.find("facebook.com") != std::string::npos)
        return "facebook";
    return host;
}

} // namespace

SessionFormModel::SessionFormModel(SessionStore& store, Hooks hooks)
    : m_store(store), m_hooks(std::move(hooks)) {}

template <typename T> void SessionFormModel::assign(T& member, T value, Field field) {
    if (member == value)
        return;
    member = std::move(value);
    m_changed.emit(field);
}

void SessionFormModel::setShowingAddSession(bool value) {
    assign(m_showingAddSession, value, Field::ShowingAddSession);
}
void SessionFormModel::setNewSessionName(std::string value) {
    assign(m_newSessionName, std::move(value), Field::NewSessionName);
}
void SessionFormModel::setNewSessionProxyEnabled(bool value) {
    assign(m_newSessionProxyEnabled, value, Field::NewSessionProxyEnabled);
}
void SessionFormModel::setNewSessionSendTranslation(bool value) {
    assign(m_newSessionSendTranslation, value, Field::NewSessionSendTranslation);
}
void SessionFormModel::setNewSessionReceiveTranslation(bool value) {
    assign(m_newSessionReceiveTranslation, value, Field::NewSessionReceiveTranslation);
}
void SessionFormModel::setNewSessionFontSize(double value) {
    assign(m_newSessionFontSize, value, Field::NewSessionFontSize);
}
void SessionFormModel::setNewSessionFontColor(std::string value) {
    assign(m_newSessionFontColor, std::move(value), Field::NewSessionFontColor);
}
void SessionFormModel::setNewSessionSetupSection(std::string value) {
    assign(m_newSessionSetupSection, std::move(value), Field::NewSessionSetupSection);
}
void SessionFormModel::setSessionInputLanguage(std::string value) {
    assign(m_sessionInputLanguage, std::move(value), Field::SessionInputLanguage);
}
void SessionFormModel::setSessionOutgoingLanguage(std::string value) {
    assign(m_sessionOutgoingLanguage, std::move(value), Field::SessionOutgoingLanguage);
}
void SessionFormModel::setSessionIncomingLanguage(std::string value) {
    assign(m_sessionIncomingLanguage, std::move(value), Field::SessionIncomingLanguage);
}
void SessionFormModel::setSessionOwnMessageLanguage(std::string value) {
    assign(m_sessionOwnMessageLanguage, std::move(value), Field::SessionOwnMessageLanguage);
}
void SessionFormModel::setSessionProvider(std::string value) {
    assign(m_sessionProvider, std::move(value), Field::SessionProvider);
}
void SessionFormModel::setSessionProxyType(std::string value) {
    assign(m_sessionProxyType, std::move(value), Field::SessionProxyType);
}
void SessionFormModel::setSessionProxyHost(std::string value) {
    assign(m_sessionProxyHost, std::move(value), Field::SessionProxyHost);
}
void SessionFormModel::setSessionProxyPort(std::string value) {
    assign(m_sessionProxyPort, std::move(value), Field::SessionProxyPort);
}
void SessionFormModel::setShowingAddWebsite(bool value) {
    assign(m_showingAddWebsite, value, Field::ShowingAddWebsite);
}
void SessionFormModel::setWebsiteName(std::string value) {
    assign(m_websiteName, std::move(value), Field::WebsiteName);
}
void SessionFormModel::setWebsiteAddress(std::string value) {
    assign(m_websiteAddress, std::move(value), Field::WebsiteAddress);
}
void SessionFormModel::setShowingSessionSettings(bool value) {
    assign(m_showingSessionSettings, value, Field::ShowingSessionSettings);
}

const ChatSession* SessionFormModel::selectedSession() const {
    const auto& selected = m_store.selectedID();
    if (!selected)
        return nullptr;
    for (const auto& session : m_store.sessions())
        if (session.id == *selected)
            return &session;
    return nullptr;
}

void SessionFormModel::addPlatform(const PlatformEntry& entry) {
    if (entry.url == kCustomPlatformURL) {
        setWebsiteName("");
        setWebsiteAddress("");
        assign(m_websiteError, std::string(), Field::WebsiteError);
        setShowingAddWebsite(true);
        return;
    }
    prepareNewSession(entry.id, suggestedName(entry));
}

void SessionFormModel::beginAddCurrentPlatformSession() {
    const ChatSession* selected = selectedSession();
    if (!selected) {
        prepareNewSession("whatsapp", "");
        return;
    }
    const std::string key = addPlatformKey(*selected);
    const std::optional<std::string> host = selected->host();
    for (const auto& entry : platformEntries()) {
        // Hosts match only when both have one: an entry without an address is matched by id.
        const std::optional<std::string> entryHost =
            entry.url ? hostOfAddress(*entry.url) : std::nullopt;
        if (entry.id == key || (host && entryHost && *host == *entryHost)) {
            prepareNewSession(entry.id, suggestedName(entry));
            return;
        }
    }
    prepareNewSession("whatsapp", "");
}

void SessionFormModel::prepareNewSession(const std::string& platformID,
                                         const std::string& suggestedName) {
    const SessionDefaults defaults = m_hooks.sessionDefaults();
    assign(m_newSessionPlatformID, platformID, Field::NewSessionPlatformID);
    setNewSessionName(suggestedName);
    setSessionInputLanguage(std::string(code(defaults.inputLanguage)));
    setSessionOutgoingLanguage(
        std::string(code(safeOutgoingLanguage(std::nullopt, defaults.outgoingLanguage))));
    setSessionIncomingLanguage(std::string(code(defaults.incomingLanguage)));
    setSessionOwnMessageLanguage(std::string(code(ChatLanguage::Chinese)));
    setSessionProvider(std::string(rawValue(defaults.provider)));
    setNewSessionProxyEnabled(false);
    setNewSessionSendTranslation(defaults.automaticMessageTranslation);
    setNewSessionReceiveTranslation(defaults.receiveTranslationEnabled);
    setNewSessionFontSize(std::max(defaults.translationFontSize, kMinimumNewSessionFontSize));
    setNewSessionFontColor(defaults.translationFontColor);
    setNewSessionSetupSection(std::string(kSetupSectionTitles[0]));
    setSessionProxyType("http");
    setSessionProxyHost("");
    setSessionProxyPort("");
    setShowingAddSession(true);
}

bool SessionFormModel::newSessionFormIsValid() const {
    if (trimmed(m_newSessionName).empty())
        return false;
    if (!m_newSessionProxyEnabled)
        return true;
    // The port is checked as typed: a blank around the digits is a typing slip worth showing.
    return !trimmed(m_sessionProxyHost).empty() && isValidProxyPort(m_sessionProxyPort);
}

void SessionFormModel::saveNewSession() {
    const std::string name = trimmed(m_newSessionName);
    if (name.empty())
        return;

    const std::size_t countBefore = m_store.sessions().size();
    if (m_newSessionPlatformID == "whatsapp") {
        m_store.add(name);
    } else if (const PlatformEntry* entry = catalogueEntry(m_newSessionPlatformID);
               entry && entry->url && *entry->url != kCustomPlatformURL &&
               hostOfAddress(*entry->url)) {
        m_store.addWebsite(name, *entry->url);
    }

    // The form is written only into the account just created. Without one, the selection is
    // still some existing account, whose own settings the form must not overwrite.
    const ChatSession* created =
        m_store.sessions().size() > countBefore ? selectedSession() : nullptr;
    if (created && created->id == m_store.sessions().back().id) {
        ChatSession session = *created;
        session.inputLanguageCode = m_sessionInputLanguage;
        session.outgoingLanguageCode = m_sessionOutgoingLanguage;
        session.incomingLanguageCode = m_sessionIncomingLanguage;
        session.ownMessageLanguageCode = m_sessionOwnMessageLanguage;
        session.translationProvider = m_sessionProvider;
        session.sendTranslationEnabled = m_newSessionSendTranslation;
        session.receiveTranslationEnabled = m_newSessionReceiveTranslation;
        session.translationFontSize = m_newSessionFontSize;
        session.translationFontColor = m_newSessionFontColor;
        session.proxyType = m_sessionProxyType;
        session.proxyHost = m_newSessionProxyEnabled ? trimmed(m_sessionProxyHost) : "";
        session.proxyPort.reset();
        if (m_newSessionProxyEnabled)
            if (auto port = parseDecimalInteger(trimmed(m_sessionProxyPort));
                port && *port >= std::numeric_limits<int>::min() &&
                *port <= std::numeric_limits<int>::max())
                session.proxyPort = static_cast<int>(*port);
        m_store.updateSession(session);
    }

    setShowingAddSession(false);
    if (m_hooks.newSessionSaved)
        m_hooks.newSessionSaved();
}

void SessionFormModel::saveWebsite() {
    const std::string name = trimmed(m_websiteName);
    if (name.empty()) {
        assign(m_websiteError, std::string(kWebsiteNameMissing), Field::WebsiteError);
        return;
    }
    const auto address = normalizedWebsiteAddress(m_websiteAddress);
    if (!address) {
        assign(m_websiteError, std::string(kWebsiteAddressInvalid), Field::WebsiteError);
        return;
    }
    m_store.addWebsite(name, *address);
    setShowingAddWebsite(false);
}

void SessionFormModel::beginSessionSettings() {
    const ChatSession* session = selectedSession();
    if (!session)
        return;
    const EffectiveSessionSettings effective =
        effectiveSettings(*session, m_hooks.sessionDefaults());
    setSessionInputLanguage(std::string(code(effective.inputLanguage)));
    setSessionOutgoingLanguage(std::string(code(effective.outgoingLanguage)));
    setSessionIncomingLanguage(std::string(code(effective.incomingLanguage)));
    setSessionOwnMessageLanguage(std::string(code(effective.ownMessageLanguage)));
    setSessionProvider(std::string(rawValue(effective.provider)));
    // Any stored type but "socks5" is applied as HTTP CONNECT, so that is what the picker shows.
    setSessionProxyType(effective.proxyType == "socks5" ? "socks5" : "http");
    setSessionProxyHost(effective.proxyHost);
    setSessionProxyPort(effective.proxyPort ? std::to_string(*effective.proxyPort) : "");
    assign(m_sessionSettingsError, std::string(), Field::SessionSettingsError);
    setShowingSessionSettings(true);
}

void SessionFormModel::saveSessionSettings() {
    const ChatSession* selected = selectedSession();
    if (!selected)
        return;
    const std::string host = trimmed(m_sessionProxyHost);
    const std::string portText = trimmed(m_sessionProxyPort);
    std::optional<int> port;
    if (auto value = parseDecimalInteger(portText); value &&
                                                    *value >= std::numeric_limits<int>::min() &&
                                                    *value <= std::numeric_limits<int>::max())
        port = static_cast<int>(*value);

    // A host with a port that is missing, unreadable or out of range would leave the account
    // without a usable proxy: with no port its pages would go out directly, exposing the very
    // address the proxy was meant to hide. Such a save is refused instead.
    if (!host.empty() && !isValidProxyPort(portText)) {
        assign(m_sessionSettingsError, std::string(kSessionSettingsPortInvalid),
               Field::SessionSettingsError);
        return;
    }
    assign(m_sessionSettingsError, std::string(), Field::SessionSettingsError);

    ChatSession session = *selected;
    session.inputLanguageCode = m_sessionInputLanguage;
    session.outgoingLanguageCode = m_sessionOutgoingLanguage == code(ChatLanguage::Chinese)
                                       ? std::string(code(ChatLanguage::English))
                                       : m_sessionOutgoingLanguage;
    session.incomingLanguageCode = m_sessionIncomingLanguage;
    session.ownMessageLanguageCode = m_sessionOwnMessageLanguage;
    session.translationProvider = m_sessionProvider;
    session.proxyType = m_sessionProxyType;
    session.proxyHost = host;
    session.proxyPort = port;
    m_store.updateSession(session);

    setShowingSessionSettings(false);
    if (m_hooks.sessionSettingsSaved)
        m_hooks.sessionSettingsSaved();
}

std::string SessionFormModel::newSessionTitle() const {
    const PlatformEntry* entry = catalogueEntry(m_newSessionPlatformID);
    return "新增 " + (entry ? entry->name : std::string("聊天账号"));
}

std::string SessionFormModel::nameCounterText() const {
    const glong length =
        g_utf8_validate(m_newSessionName.data(), static_cast<gssize>(m_newSessionName.size()),
                        nullptr)
            ? g_utf8_strlen(m_newSessionName.data(), static_cast<gssize>(m_newSessionName.size()))
            : static_cast<glong>(m_newSessionName.size());
    return std::to_string(length) + "/" + std::to_string(kSuggestedNameLength);
}

std::string_view SessionFormModel::footerHint() const {
    return newSessionFormIsValid() ? "设置已就绪" : "请补全名称或代理信息";
}

SessionFormModel::SetupSection SessionFormModel::shownSetupSection() const {
    if (m_newSessionSetupSection == kSetupSectionTitles[0])
        return SetupSection::Basic;
    if (m_newSessionSetupSection == kSetupSectionTitles[1])
        return SetupSection::Translation;
    if (m_newSessionSetupSection == kSetupSectionTitles[2])
        return SetupSection::Proxy;
    return SetupSection::Appearance;
}

std::optional<std::size_t> SessionFormModel::selectedSwatch() const {
    const std::string color = lowercasedASCII(m_newSessionFontColor);
    for (std::size_t i = 0; i < kTranslationColorSwatches.size(); ++i)
        if (lowercasedASCII(kTranslationColorSwatches[i]) == color)
            return i;
    return std::nullopt;
}

std::optional<long long> SessionFormModel::parseDecimalInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<long long>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool SessionFormModel::isValidProxyPort(std::string_view text) {
    const auto port = parseDecimalInteger(text);
    return port && *port >= 1 && *port <= 65535;
}

std::optional<std::string> SessionFormModel::normalizedWebsiteAddress(std::string_view typed) {
    std::string address = trimmed(typed);
    if (address.find("://") == std::string::npos)
        address = "https://" + address;
    // GLib's parser lets blanks and control characters through; no address may hold them.
    if (std::ranges::any_of(address, [](unsigned char c) { return c <= 0x20 || c == 0x7F; }))
        return std::nullopt;
    auto uri = adoptGRef(g_uri_parse(address.c_str(), G_URI_FLAGS_NONE, nullptr));
    if (!uri)
        return std::nullopt;
    const std::string scheme = lowercasedASCII(g_uri_get_scheme(uri.get()));
    const char* host = g_uri_get_host(uri.get());
    if ((scheme != "https" && scheme != "http") || !host || !*host)
        return std::nullopt;
    return address;
}

} // namespace aurelo

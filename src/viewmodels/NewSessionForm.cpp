#include "viewmodels/NewSessionForm.hpp"

#include "platform/Text.hpp"
#include "translation/TranslationService.hpp"
#include "viewmodels/OutgoingLanguageChoice.hpp"
#include "viewmodels/TranslationLook.hpp"

#include <algorithm>

namespace aurelo {

namespace {

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

NewSessionForm::NewSessionForm(SessionStore& store,
                               std::function<SessionDefaults()> sessionDefaults,
                               std::function<void()> saved)
    : AccountFieldsForm(store, std::move(sessionDefaults), std::move(saved)) {
    if (const PlatformEntry* whatsapp = catalogueEntry(m_platformID))
        m_platform = *whatsapp;
}

void NewSessionForm::setName(std::string value) {
    assign(m_name, std::move(value), Field::Name);
}
void NewSessionForm::setProxyEnabled(bool value) {
    assign(m_proxyEnabled, value, Field::ProxyEnabled);
}
void NewSessionForm::setSendTranslation(bool value) {
    assign(m_sendTranslation, value, Field::SendTranslation);
}
void NewSessionForm::setReceiveTranslation(bool value) {
    assign(m_receiveTranslation, value, Field::ReceiveTranslation);
}
void NewSessionForm::setFontSize(double value) {
    assign(m_fontSize, value, Field::FontSize);
}
void NewSessionForm::setFontColor(std::string value) {
    assign(m_fontColor, std::move(value), Field::FontColor);
}
void NewSessionForm::setSetupSection(std::string value) {
    assign(m_setupSection, std::move(value), Field::SetupSection);
}

void NewSessionForm::addPlatform(const PlatformEntry& platform) {
    prepare(platform, suggestedName(platform));
}

void NewSessionForm::beginForCurrentPlatform() {
    const ChatSession* selected = selectedSession();
    if (!selected) {
        prepare("whatsapp", "");
        return;
    }
    const std::string key = addPlatformKey(*selected);
    const std::optional<std::string> host = selected->host();
    for (const auto& entry : platformEntries()) {
        // Hosts match only when both have one: an entry without an address is matched by id.
        const std::optional<std::string> entryHost =
            entry.url ? hostOfAddress(*entry.url) : std::nullopt;
        if (entry.id == key || (host && entryHost && *host == *entryHost)) {
            prepare(entry, suggestedName(entry));
            return;
        }
    }
    prepare("whatsapp", "");
}

void NewSessionForm::prepare(const std::string& platformID, const std::string& suggestedName) {
    const PlatformEntry* entry = catalogueEntry(platformID);
    open(platformID, entry ? std::optional<PlatformEntry>(*entry) : std::nullopt, suggestedName);
}

void NewSessionForm::prepare(const PlatformEntry& platform, const std::string& suggestedName) {
    open(platform.id, platform, suggestedName);
}

void NewSessionForm::open(const std::string& platformID, std::optional<PlatformEntry> platform,
                          const std::string& suggestedName) {
    const SessionDefaults defaults = sessionDefaults();
    m_platform = std::move(platform);
    assign(m_platformID, platformID, Field::PlatformID);
    setName(suggestedName);
    setInputLanguage(std::string(code(defaults.inputLanguage)));
    // New accounts answer each customer in their own language, the usual one until it is known.
    setOutgoingLanguage(std::string(OutgoingLanguageChoice::kFollowCustomer));
    setIncomingLanguage(std::string(code(defaults.incomingLanguage)));
    setOwnMessageLanguage(std::string(code(ChatLanguage::Chinese)));
    setProvider(std::string(rawValue(defaults.provider)));
    setProxyEnabled(false);
    setSendTranslation(defaults.automaticMessageTranslation);
    setReceiveTranslation(defaults.receiveTranslationEnabled);
    setFontSize(std::max(defaults.translationFontSize, kMinimumFontSize));
    setFontColor(defaults.translationFontColor);
    setSetupSection(std::string(kSetupSectionTitles[0]));
    loadProxyFields("http", "", "", "", "");
    resetProxyCheck();
    setError({});
    setShowing(true);
}

bool NewSessionForm::isValid() const {
    if (!AccountName::problem(m_name).empty())
        return false;
    if (!m_proxyEnabled)
        return true;
    // The port is checked as typed: a blank around the digits is a typing slip worth showing.
    return !text::trimmed(proxyHost()).empty() && proxyHostError().empty() &&
           isValidProxyPort(proxyPort());
}

std::optional<ChatSession> NewSessionForm::session() const {
    const std::string name = text::trimmed(m_name);
    if (name.empty() || !m_platform)
        return std::nullopt;
    ChatSession session = ChatSession::make(name);
    // WhatsApp accounts have no address of their own; every other platform needs a usable one.
    if (m_platform->url) {
        if (*m_platform->url == kCustomPlatformURL || !hostOfAddress(*m_platform->url))
            return std::nullopt;
        session.urlString = *m_platform->url;
    }
    session.inputLanguageCode = inputLanguage();
    OutgoingLanguageChoice::apply(session, outgoingLanguage(), sessionDefaults().outgoingLanguage);
    session.incomingLanguageCode = incomingLanguage();
    session.ownMessageLanguageCode = ownMessageLanguage();
    session.translationProvider = provider();
    session.sendTranslationEnabled = m_sendTranslation;
    session.receiveTranslationEnabled = m_receiveTranslation;
    session.translationFontSize = m_fontSize;
    session.translationFontColor = m_fontColor;
    session.proxyType = proxyType();
    session.proxyHost = m_proxyEnabled ? text::trimmed(proxyHost()) : "";
    if (m_proxyEnabled) {
        session.proxyPort = storedProxyPort();
        session.proxyUsername = storedProxyUsername();
    }
    return session;
}

void NewSessionForm::save() {
    // The sheet offers "添加账号" only then; this holds for any other caller too. A proxy whose
    // host is none would leave the account loading nothing, one without a port going direct.
    if (!isValid())
        return;
    // One store change: a session added bare and configured afterwards would first get a page
    // that loads its platform without the proxy, from the user's own address.
    auto created = session();
    if (!created) {
        setShowing(false);
        return announceSaved();
    }
    // The password first: the account's first page is built as soon as it is added, and must
    // offer the proxy its login from the start. A keychain that will not take it stops the save
    // with the sheet open, so the account is not added without it.
    const std::string id = created->id;
    storeProxyPassword(id, m_proxyEnabled, [this, session = std::move(*created)]() mutable {
        m_store.addSession(std::move(session));
        setShowing(false);
        announceSaved();
    });
}

std::string NewSessionForm::proxyCheckAddress() const {
    if (m_platform && m_platform->url && hostOfAddress(*m_platform->url))
        return *m_platform->url;
    return std::string(kWhatsAppWebURL);
}

std::string NewSessionForm::title() const {
    return "新增 " + (m_platform ? m_platform->name : std::string("聊天账号"));
}

std::string NewSessionForm::nameCounterText() const {
    return std::to_string(AccountName::length(m_name)) + "/" + std::to_string(kSuggestedNameLength);
}

std::string NewSessionForm::nameError() const {
    return AccountName::problemWhileTyping(m_name);
}

std::string_view NewSessionForm::footerHint() const {
    return isValid() ? "设置已就绪" : "请补全名称或代理信息";
}

NewSessionForm::SetupSection NewSessionForm::shownSetupSection() const {
    if (m_setupSection == kSetupSectionTitles[0])
        return SetupSection::Basic;
    if (m_setupSection == kSetupSectionTitles[1])
        return SetupSection::Translation;
    if (m_setupSection == kSetupSectionTitles[2])
        return SetupSection::Proxy;
    return SetupSection::Appearance;
}

std::optional<std::size_t> NewSessionForm::selectedSwatch() const {
    const std::string color = text::asciiLowercased(m_fontColor);
    for (std::size_t i = 0; i < kTranslationColorSwatches.size(); ++i)
        if (text::asciiLowercased(kTranslationColorSwatches[i]) == color)
            return i;
    return std::nullopt;
}

std::optional<std::size_t> NewSessionForm::selectedFontSize() const {
    for (std::size_t i = 0; i < kTranslationFontSizes.size(); ++i)
        if (m_fontSize == kTranslationFontSizes[i])
            return i;
    return std::nullopt;
}

} // namespace aurelo

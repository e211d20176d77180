#include "viewmodels/SessionSettingsForm.hpp"

#include "models/PlatformCatalogue.hpp"
#include "platform/Text.hpp"
#include "translation/TranslationService.hpp"
#include "viewmodels/OutgoingLanguageChoice.hpp"

namespace aurelo {

SessionSettingsForm::SessionSettingsForm(SessionStore& store,
                                         std::function<SessionDefaults()> sessionDefaults,
                                         std::function<void()> saved)
    : AccountFieldsForm(store, std::move(sessionDefaults), std::move(saved)) {}

void SessionSettingsForm::begin() {
    const ChatSession* session = selectedSession();
    if (!session)
        return;
    const EffectiveSessionSettings effective = effectiveSettings(*session, sessionDefaults());
    setInputLanguage(std::string(code(effective.inputLanguage)));
    setOutgoingLanguage(
        OutgoingLanguageChoice::valueOf(*session, sessionDefaults().outgoingLanguage));
    setIncomingLanguage(std::string(code(effective.incomingLanguage)));
    setOwnMessageLanguage(std::string(code(effective.ownMessageLanguage)));
    setProvider(std::string(rawValue(effective.provider)));
    // Any stored type but "socks5" is applied as HTTP CONNECT, so that is what the picker shows.
    loadProxyFields(effective.proxyType == "socks5" ? "socks5" : "http", effective.proxyHost,
                    effective.proxyPort ? std::to_string(*effective.proxyPort) : "",
                    effective.proxyUsername,
                    effective.proxyUsername.empty() ? "" : storedProxyPassword(session->id));
    setHibernateMinutes(validHibernationMinutes(session->autoHibernateMinutes));
    setSpellChecking(session->spellCheckingEnabled.value_or(true));
    setNotifications(session->notificationsEnabled.value_or(true));
    m_hasAddress = isCustomWebsite(*session);
    setAddress(m_hasAddress ? session->effectiveURL() : std::string());
    setError({});
    resetProxyCheck();
    setShowing(true);
}

void SessionSettingsForm::setAddress(std::string value) {
    assign(m_address, std::move(value), Field::Address);
}

void SessionSettingsForm::setHibernateMinutes(std::optional<int> minutes) {
    assign(m_hibernateMinutes, validHibernationMinutes(minutes), Field::HibernateMinutes);
}

std::vector<std::optional<int>> SessionSettingsForm::hibernationChoices() {
    std::vector<std::optional<int>> choices{std::nullopt};
    for (int minutes : kHibernationMinutes)
        choices.emplace_back(minutes);
    return choices;
}

std::string SessionSettingsForm::hibernationLabel(std::optional<int> minutes) {
    return minutes ? "未显示 " + std::to_string(*minutes) + " 分钟后" : std::string("关闭");
}

std::string SessionSettingsForm::proxyCheckAddress() const {
    const ChatSession* session = selectedSession();
    return session ? session->effectiveURL() : std::string(kWhatsAppWebURL);
}

void SessionSettingsForm::save() {
    const ChatSession* selected = selectedSession();
    if (!selected)
        return;
    const std::string host = text::trimmed(proxyHost());
    // A host that is none, or a port that is missing, unreadable or out of range, would leave
    // the account without a usable proxy: with no port its pages would go out directly,
    // exposing the very address the proxy was meant to hide. Such a save is refused instead.
    if (std::string reason = proxyHostError(); !reason.empty()) {
        setError(std::move(reason));
        return;
    }
    if (!host.empty() && !isValidProxyPort(text::trimmed(proxyPort()))) {
        setError(std::string(kPortInvalid));
        return;
    }
    const auto address = m_hasAddress ? WebsiteForm::normalizedAddress(m_address) : std::nullopt;
    if (m_hasAddress && !address) {
        setError(std::string(WebsiteForm::kAddressInvalid));
        return;
    }
    setError({});

    ChatSession session = *selected;
    if (address)
        session.urlString = *address;
    session.inputLanguageCode = inputLanguage();
    OutgoingLanguageChoice::apply(session, outgoingLanguage(), sessionDefaults().outgoingLanguage);
    session.incomingLanguageCode = incomingLanguage();
    session.ownMessageLanguageCode = ownMessageLanguage();
    session.translationProvider = provider();
    session.proxyType = proxyType();
    session.proxyHost = host;
    session.proxyPort = storedProxyPort();
    session.proxyUsername = host.empty() ? std::nullopt : storedProxyUsername();
    session.autoHibernateMinutes = validHibernationMinutes(m_hibernateMinutes);
    // Stored only when turned off, so an account left as it was keeps following the default.
    session.spellCheckingEnabled = m_spellChecking ? std::nullopt : std::optional<bool>(false);
    session.notificationsEnabled = m_notifications ? std::nullopt : std::optional<bool>(false);
    const std::string id = session.id;
    storeProxyPassword(id, !host.empty(), [this, session = std::move(session)] {
        m_store.updateSession(session);
        setShowing(false);
        announceSaved();
    });
}

} // namespace aurelo

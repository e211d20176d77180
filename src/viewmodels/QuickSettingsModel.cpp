#include "viewmodels/QuickSettingsModel.hpp"

#include "viewmodels/OutgoingLanguageChoice.hpp"

#include "viewmodels/EngineNames.hpp"

namespace aurelo {

QuickSettingsModel::QuickSettingsModel(SessionStore& store, SettingsStore& settings,
                                       AccountStore& account, MainWindowPreferences& preferences,
                                       std::function<void()> reloadPages)
    : m_store(store), m_settings(settings), m_account(account), m_preferences(preferences),
      m_reloadPages(std::move(reloadPages)) {
    const auto relay = [this](auto) { m_changed.emit(); };
    // Unread counts change all day and the strip shows none of them; redrawing it for each
    // would keep the window busy while the agent switches accounts.
    m_connections.push_back(m_store.signalChanged().connect([this](SessionStore::Field field) {
        if (field != SessionStore::Field::UnreadCounts)
            m_changed.emit();
    }));
    m_connections.push_back(m_settings.signalChanged().connect(relay));
    m_connections.push_back(m_account.signalChanged().connect(relay));
    m_connections.push_back(m_preferences.signalChanged().connect(relay));
}

QuickSettingsModel::~QuickSettingsModel() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

const ChatSession* QuickSettingsModel::selected() const {
    const auto& id = m_store.selectedID();
    if (!id)
        return nullptr;
    for (const auto& session : m_store.sessions())
        if (session.id == *id)
            return &session;
    return nullptr;
}

void QuickSettingsModel::updateSelected(const std::function<void(ChatSession&)>& change) {
    const ChatSession* session = selected();
    if (!session)
        return;
    ChatSession copy = *session;
    change(copy);
    m_store.updateSession(copy);
}

ChatLanguage QuickSettingsModel::quickIncomingLanguage() const {
    const ChatSession* session = selected();
    return languageForCode(session ? session->incomingLanguageCode : std::nullopt,
                           m_settings.incomingLanguage());
}

ChatLanguage QuickSettingsModel::quickOutgoingLanguage() const {
    if (const ChatSession* session = selected())
        return safeOutgoingLanguage(session->outgoingLanguageCode, m_settings.outgoingLanguage());
    const ChatLanguage global = m_settings.outgoingLanguage();
    return global == ChatLanguage::Chinese ? ChatLanguage::English : global;
}

std::string QuickSettingsModel::summaryLine() const {
    const ChatSession* session = selected();
    const std::string outgoing = session && session->outgoingFollowsCustomer.value_or(false)
                                     ? std::string(OutgoingLanguageChoice::kFollowCustomerTitle)
                                     : std::string(title(quickOutgoingLanguage()));
    return "收到 → " + std::string(title(quickIncomingLanguage())) + "   ·   发送 → " + outgoing;
}

std::string_view QuickSettingsModel::recognitionNote() const {
    const ChatSession* session = selected();
    if (session && !session->isWhatsApp() && m_unrecognised.contains(session->id))
        return kMessagesUnrecognised;
    return {};
}

void QuickSettingsModel::messagesRecognised(const std::string& sessionID, bool recognised) {
    const bool changed =
        recognised ? m_unrecognised.erase(sessionID) > 0 : m_unrecognised.insert(sessionID).second;
    if (changed)
        m_changed.emit();
}

std::string QuickSettingsModel::inputLanguageCode() const {
    const ChatSession* session = selected();
    if (session && session->inputLanguageCode)
        return *session->inputLanguageCode;
    return std::string(code(m_settings.inputLanguage()));
}

void QuickSettingsModel::setInputLanguageCode(const std::string& languageCode) {
    if (const ChatSession* session = selected())
        m_store.setInputLanguage(session->id, languageCode);
}

std::string QuickSettingsModel::outgoingLanguageCode() const {
    if (const ChatSession* session = selected())
        return OutgoingLanguageChoice::valueOf(*session, m_settings.outgoingLanguage());
    return std::string(code(quickOutgoingLanguage()));
}

void QuickSettingsModel::setOutgoingLanguageCode(const std::string& languageCode) {
    const ChatSession* following = selected();
    if (following && (languageCode == OutgoingLanguageChoice::kFollowCustomer ||
                      following->outgoingFollowsCustomer)) {
        updateSelected([&](ChatSession& session) {
            OutgoingLanguageChoice::apply(session, languageCode, m_settings.outgoingLanguage());
        });
        return;
    }
    if (const ChatSession* session = selected())
        m_store.setOutgoingLanguage(session->id, languageCode == code(ChatLanguage::Chinese)
                                                     ? std::string(code(ChatLanguage::English))
                                                     : languageCode);
}

std::string QuickSettingsModel::incomingLanguageCode() const {
    return std::string(code(quickIncomingLanguage()));
}

void QuickSettingsModel::setIncomingLanguageCode(const std::string& languageCode) {
    if (const ChatSession* session = selected())
        m_store.setIncomingLanguage(session->id, languageCode);
}

bool QuickSettingsModel::sendTranslationAvailable() const {
    const ChatSession* session = selected();
    return !session || session->isWhatsApp();
}

bool QuickSettingsModel::sendTranslationEnabled() const {
    const ChatSession* session = selected();
    return session && session->sendTranslationEnabled ? *session->sendTranslationEnabled
                                                      : m_settings.automaticMessageTranslation();
}

void QuickSettingsModel::setSendTranslationEnabled(bool enabled) {
    updateSelected([enabled](ChatSession& session) { session.sendTranslationEnabled = enabled; });
}

bool QuickSettingsModel::receiveTranslationEnabled() const {
    const ChatSession* session = selected();
    return session && session->receiveTranslationEnabled
               ? *session->receiveTranslationEnabled
               : m_preferences.receiveTranslationEnabled();
}

void QuickSettingsModel::setReceiveTranslationEnabled(bool enabled) {
    updateSelected(
        [enabled](ChatSession& session) { session.receiveTranslationEnabled = enabled; });
}

double QuickSettingsModel::translationFontSize() const {
    const ChatSession* session = selected();
    return session && session->translationFontSize ? *session->translationFontSize
                                                   : m_preferences.translationFontSize();
}

void QuickSettingsModel::setTranslationFontSize(double size) {
    updateSelected([size](ChatSession& session) { session.translationFontSize = size; });
}

RgbColor QuickSettingsModel::translationFontColor() const {
    const ChatSession* session = selected();
    return colorForText(session && session->translationFontColor
                            ? *session->translationFontColor
                            : m_preferences.translationFontColor());
}

void QuickSettingsModel::setTranslationFontColor(const RgbColor& color) {
    updateSelected(
        [text = colorText(color)](ChatSession& session) { session.translationFontColor = text; });
}

std::string QuickSettingsModel::provider() const {
    const ChatSession* session = selected();
    if (session && session->translationProvider)
        return *session->translationProvider;
    return std::string(rawValue(m_settings.provider()));
}

void QuickSettingsModel::setProvider(const std::string& provider) {
    const ChatSession* session = selected();
    if (!session)
        return;
    m_store.setTranslationProvider(session->id, provider);
    m_reloadPages();
}

std::string QuickSettingsModel::selectedProviderLabel() const {
    return EngineNames::label(m_account.availableEngines(), provider()).value_or("翻译服务");
}

} // namespace aurelo

#include "viewmodels/PageStackModel.hpp"

#include "web/ProxyRoute.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace aurelo {

namespace {

std::string boolText(bool value) {
    return value ? "true" : "false";
}

// A number as the identity text writes it: the shortest form that reads back the same, with
// ".0" on whole numbers (16 → "16.0").
std::string decimalText(double value) {
    char buffer[64];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value)
            break;
    }
    std::string text(buffer);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

} // namespace

PageStackModel::PageStackModel(ContentViewModel& content) : m_content(content) {
    auto changed = [this] { m_changed.emit(); };
    m_connections.push_back(
        m_content.store().signalChanged().connect([changed](SessionStore::Field field) {
            // A page counts its own unread messages; the count never changes the page.
            if (field != SessionStore::Field::UnreadCounts)
                changed();
        }));
    m_connections.push_back(
        m_content.signalChanged().connect([changed](ContentViewModel::Field field) {
            using F = ContentViewModel::Field;
            if (field == F::ReloadToken || field == F::PageCommand || field == F::TextInsertion ||
                field == F::ShowAppCenter || field == F::ShowingInlineSettings)
                changed();
        }));
    m_connections.push_back(
        m_content.conversationLanguages().signalPagesChanged().connect(changed));
    m_connections.push_back(m_content.hibernation().signalChanged().connect(
        [changed](const std::string&) { changed(); }));
    m_connections.push_back(m_content.translationBox().signalChanged().connect(
        [changed](TranslationBoxModel::Field field) {
            if (field == TranslationBoxModel::Field::TextInsertion)
                changed();
        }));
    m_connections.push_back(m_content.settings().signalChanged().connect(
        [changed](SettingsStore::Field) { changed(); }));
    m_connections.push_back(m_content.preferences().signalChanged().connect(
        [changed](MainWindowPreferences::Field) { changed(); }));
    if (auto* passwords = m_content.proxyPasswords())
        m_connections.push_back(
            passwords->signalChanged().connect([changed](const std::string&) { changed(); }));
}

PageStackModel::~PageStackModel() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

PageStackModel::Decision PageStackModel::decide(const std::vector<Wanted>& wanted,
                                                const std::map<std::string, std::string>& built) {
    Decision decision;
    std::set<std::string> present;
    for (const auto& page : wanted)
        present.insert(page.sessionID);
    for (const auto& [sessionID, identity] : built)
        if (!present.contains(sessionID))
            decision.drop.push_back(sessionID);
    for (const auto& page : wanted) {
        auto it = built.find(page.sessionID);
        decision.steps.push_back(it == built.end()             ? Step::Create
                                 : it->second != page.identity ? Step::Rebuild
                                                               : Step::Keep);
    }
    return decision;
}

PageStackModel::Plan PageStackModel::plan(const std::map<std::string, std::string>& built) const {
    // A sleeping account has no page: dropping it ends its web process.
    std::vector<const ChatSession*> sessions;
    for (const auto& session : m_content.store().sessions())
        if (!m_content.hibernation().isHibernated(session.id))
            sessions.push_back(&session);
    std::vector<Wanted> wanted;
    for (const auto* session : sessions)
        wanted.push_back({session->id, identity(*session)});
    Decision decision = decide(wanted, built);

    Plan plan{std::move(decision.drop), {}};
    const auto& command = m_content.pageCommand();
    const auto& insertion = m_content.textInsertion();
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        const ChatSession& session = *sessions[i];
        Page page{session.id,        std::move(wanted[i].identity),
                  decision.steps[i], m_content.isPageShown(session.id),
                  inputs(session),   std::nullopt,
                  std::nullopt};
        if (page.inputs.isActive)
            page.command = command;
        if (insertion && insertion->sessionID == session.id)
            page.insertion = insertion;
        plan.pages.push_back(std::move(page));
    }
    return plan;
}

ChatWebViewInputs PageStackModel::inputs(const ChatSession& session) const {
    const EffectiveSessionSettings effective =
        effectiveSettings(session, m_content.sessionDefaults());
    ChatWebViewInputs inputs;
    inputs.sessionID = session.id;
    inputs.pageURL = effective.url;
    inputs.translationConfiguration = m_content.settings().configuration(effective.provider);
    inputs.automaticMessageTranslation = effective.sendTranslationEnabled;
    inputs.sendTranslationAvailable = session.isWhatsApp();
    inputs.receiveTranslationEnabled = effective.receiveTranslationEnabled;
    inputs.translationFontSize = effective.translationFontSize;
    inputs.translationFontColor = effective.translationFontColor;
    inputs.isActive = m_content.store().selectedID() == session.id;
    inputs.inputLanguage = effective.inputLanguage;
    inputs.outgoingLanguage = effective.outgoingLanguage;
    inputs.followsConversation = effective.outgoingFollowsCustomer;
    inputs.conversationLanguage = m_content.conversationLanguages().pageLanguage(session.id);
    inputs.spellChecking = session.spellCheckingEnabled.value_or(true);
    inputs.notificationsEnabled = session.notificationsEnabled.value_or(true);
    inputs.incomingLanguage = effective.incomingLanguage;
    inputs.ownMessageLanguage = effective.ownMessageLanguage;
    inputs.proxyType = effective.proxyType;
    inputs.proxyHost = effective.proxyHost;
    if (effective.proxyPort)
        inputs.proxyPort = *effective.proxyPort;
    inputs.proxyUsername = effective.proxyUsername;
    if (!inputs.proxyUsername.empty())
        inputs.proxyPassword = m_content.proxyPassword(session.id);
    inputs.reloadToken = m_content.reloadToken();
    inputs.pageZoom = m_content.preferences().pageZoom();
    // The page counts its unread messages; the count belongs to its session's tab.
    inputs.onUnreadCountChanged = [&store = m_content.store(), id = session.id](int count) {
        store.setUnreadCount(count, id);
    };
    inputs.onMessagesRecognised = [&quick = m_content.quickSettings(),
                                   id = session.id](bool recognised) {
        quick.messagesRecognised(id, recognised);
    };
    inputs.onConversationReported = [&languages = m_content.conversationLanguages(),
                                     id = session.id](std::optional<std::string> conversation) {
        languages.conversationReported(id, std::move(conversation));
    };
    inputs.onIncomingLanguage = [&languages = m_content.conversationLanguages(), id = session.id](
                                    const std::string& conversation, const std::string& text,
                                    const std::string& detected) {
        languages.incomingLanguage(id, conversation, text, detected);
    };
    inputs.onHealthChanged = [&health = m_content.health(), id = session.id](
                                 const PageHealth& state) { health.report(id, state); };
    inputs.onMemoryMeasured = [&memory = m_content.memory(), id = session.id](
                                  std::uint64_t pssKiB) { memory.measured(id, pssKiB); };
    return inputs;
}

std::string PageStackModel::identity(const ChatSession& session) const {
    const SessionDefaults defaults = m_content.sessionDefaults();
    const EffectiveSessionSettings effective = effectiveSettings(session, defaults);
    // The send flag without the restriction to WhatsApp: a stored flag of true shows as true.
    const bool sendFlag =
        session.sendTranslationEnabled.value_or(defaults.automaticMessageTranslation);
    // The page's network session is built with the proxy route, so the route is part of the
    // identity: a change of proxy type alone (HTTP to SOCKS5) needs a new page as much as a new
    // host does, while an edit that leaves the route as it was (a host without a port) does not.
    // The login is part of the route; the password enters only as a digest.
    const auto route = proxyRoute(
        effective.proxyType, effective.proxyHost, effective.proxyPort, effective.proxyUsername,
        effective.proxyUsername.empty() ? "" : m_content.proxyPassword(session.id));
    std::string identity = session.id;
    for (const std::string& part : {
             effective.url,
             boolText(sendFlag),
             boolText(effective.receiveTranslationEnabled),
             decimalText(effective.translationFontSize),
             effective.translationFontColor,
             std::string(code(effective.inputLanguage)),
             std::string(code(effective.outgoingLanguage)),
             boolText(effective.outgoingFollowsCustomer),
             std::string(code(effective.incomingLanguage)),
             std::string(code(effective.ownMessageLanguage)),
             std::string(rawValue(effective.provider)),
             !route   ? std::string("refused")
             : *route ? (*route)->identityText()
                      : std::string("direct"),
         })
        identity += "-" + part;
    return identity;
}

void PageStackModel::pageCommandTaken(const std::string& commandID) {
    m_content.pageCommandTaken(commandID);
}

void PageStackModel::textInsertionTaken(const std::string& insertionID) {
    m_content.translationBox().textInsertionTaken(insertionID);
}

std::string PageStackModel::pageName(const std::string& sessionID) const {
    for (const auto& session : m_content.store().sessions())
        if (session.id == sessionID && !session.name.empty())
            return session.name;
    return "聊天网页";
}

} // namespace aurelo

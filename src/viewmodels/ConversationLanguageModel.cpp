// The open conversations' customer languages, between the pages, the store and the strip's row.
#include "viewmodels/ConversationLanguageModel.hpp"

#include "viewmodels/TranslationLook.hpp"

#include <algorithm>

namespace aurelo {

ConversationLanguageModel::ConversationLanguageModel(SessionStore& store,
                                                     std::function<SessionDefaults()> defaults)
    : m_store(store), m_defaults(std::move(defaults)),
      m_files(std::make_unique<ConversationLanguageStore>(std::filesystem::path())) {
    for (const auto& known : m_store.sessions())
        m_knownSessions.push_back(known.id);
    m_storeConnection = m_store.signalChanged().connect([this](SessionStore::Field field) {
        if (field == SessionStore::Field::Sessions)
            forgetRemovedAccounts();
        if (field != SessionStore::Field::UnreadCounts)
            m_changed.emit();
    });
}

ConversationLanguageModel::~ConversationLanguageModel() {
    m_storeConnection.disconnect();
}

void ConversationLanguageModel::emitChanged() {
    m_pagesChanged.emit();
    m_changed.emit();
}

void ConversationLanguageModel::persistIn(std::filesystem::path folder) {
    m_files = std::make_unique<ConversationLanguageStore>(std::move(folder));
}

void ConversationLanguageModel::forgetRemovedAccounts() {
    // Only accounts deleted while we run: an account missing from a list that could not be read
    // at start is not gone, and its file stays.
    std::vector<std::string> now;
    for (const auto& known : m_store.sessions())
        now.push_back(known.id);
    for (const auto& id : m_knownSessions)
        if (std::ranges::find(now, id) == now.end()) {
            m_open.erase(id);
            m_files->removeAccount(id);
        }
    m_knownSessions = std::move(now);
}

const ChatSession* ConversationLanguageModel::session(const std::string& sessionID) const {
    const auto& sessions = m_store.sessions();
    auto it = std::ranges::find(sessions, sessionID, &ChatSession::id);
    return it == sessions.end() ? nullptr : &*it;
}

const ChatSession* ConversationLanguageModel::selected() const {
    const auto& id = m_store.selectedID();
    return id ? session(*id) : nullptr;
}

const ConversationLanguageModel::Open*
ConversationLanguageModel::open(const std::string& sessionID) const {
    auto it = m_open.find(sessionID);
    return it == m_open.end() ? nullptr : &it->second;
}

ChatLanguage ConversationLanguageModel::fallback(const ChatSession& account) const {
    return effectiveSettings(account, m_defaults()).outgoingLanguage;
}

void ConversationLanguageModel::conversationReported(const std::string& sessionID,
                                                     std::optional<std::string> conversation) {
    if (!session(sessionID))
        return;
    Open& entry = m_open[sessionID];
    entry.conversation = std::move(conversation);
    entry.state = entry.conversation ? m_files->state(sessionID, *entry.conversation)
                                     : ConversationLanguageState{};
    // Always: a page that loaded again waits for its language even when nothing changed here.
    emitChanged();
}

void ConversationLanguageModel::incomingLanguage(const std::string& sessionID,
                                                 const std::string& conversation,
                                                 const std::string& text,
                                                 const std::string& detectedCode) {
    const ChatSession* account = session(sessionID);
    if (!account || !account->outgoingFollowsCustomer.value_or(false))
        return;
    auto it = m_open.find(sessionID);
    const bool isOpen = it != m_open.end() && it->second.conversation == conversation;
    const ConversationLanguageState before =
        isOpen ? it->second.state : m_files->state(sessionID, conversation);
    const ConversationLanguageState after =
        ConversationLanguageRule::observe(before, text, detectedCode);
    if (after == before)
        return;
    m_files->save(sessionID, conversation, after);
    if (!isOpen)
        return;
    it->second.state = after;
    emitChanged();
}

std::optional<std::pair<std::optional<std::string>, ChatLanguage>>
ConversationLanguageModel::pageLanguage(const std::string& sessionID) const {
    const ChatSession* account = session(sessionID);
    const Open* entry = open(sessionID);
    if (!account || !entry || !account->outgoingFollowsCustomer.value_or(false))
        return std::nullopt;
    return std::pair{entry->conversation,
                     ConversationLanguageRule::choose(entry->state, fallback(*account)).language};
}

ChatLanguage ConversationLanguageModel::outgoingLanguage(const std::string& sessionID) const {
    const ChatSession* account = session(sessionID);
    if (!account)
        return ChatLanguage::English;
    if (auto page = pageLanguage(sessionID))
        return page->second;
    return fallback(*account);
}

std::optional<ChatLanguage>
ConversationLanguageModel::followedLanguage(const std::string& sessionID) const {
    const ChatSession* account = session(sessionID);
    if (!account || !account->outgoingFollowsCustomer.value_or(false))
        return std::nullopt;
    return outgoingLanguage(sessionID);
}

bool ConversationLanguageModel::rowShown() const {
    const ChatSession* account = selected();
    return account && account->outgoingFollowsCustomer.value_or(false);
}

std::string ConversationLanguageModel::rowText() const {
    const ChatSession* account = selected();
    if (!account)
        return {};
    const Open* entry = open(account->id);
    const ConversationLanguageChoice choice = ConversationLanguageRule::choose(
        entry && entry->conversation ? entry->state : ConversationLanguageState{},
        fallback(*account));
    const std::string name(title(choice.language));
    switch (choice.origin) {
    case ConversationLanguageOrigin::Manual:
        return "当前会话：" + name + "（" + std::string(kManualNote) + "）";
    case ConversationLanguageOrigin::Detected:
        return "当前会话：" + name + "（" + std::string(kAutomaticChoice) + "）";
    case ConversationLanguageOrigin::Fallback:
        break;
    }
    return "未识别，使用 " + name;
}

bool ConversationLanguageModel::overrideAvailable() const {
    const ChatSession* account = selected();
    const Open* entry = account ? open(account->id) : nullptr;
    return rowShown() && entry && entry->conversation;
}

std::vector<std::pair<std::string, std::string>> ConversationLanguageModel::overrideChoices() {
    std::vector<std::pair<std::string, std::string>> choices{{"", std::string(kAutomaticChoice)}};
    for (ChatLanguage language : pickerLanguages(LanguagePicker::Outgoing))
        choices.emplace_back(std::string(code(language)), std::string(title(language)));
    return choices;
}

std::string ConversationLanguageModel::overrideValue() const {
    const ChatSession* account = selected();
    const Open* entry = account ? open(account->id) : nullptr;
    if (!entry || !entry->conversation || !entry->state.manual)
        return {};
    return std::string(code(*entry->state.manual));
}

void ConversationLanguageModel::setOverride(const std::string& value) {
    if (!overrideAvailable())
        return;
    std::optional<ChatLanguage> manual;
    if (!value.empty()) {
        const auto language = chatLanguageFromCode(value);
        const auto offered = pickerLanguages(LanguagePicker::Outgoing);
        if (!language || std::ranges::find(offered, *language) == offered.end())
            return;
        manual = language;
    }
    const std::string id = selected()->id;
    Open& entry = m_open[id];
    if (entry.state.manual == manual)
        return;
    entry.state.manual = manual;
    m_files->save(id, *entry.conversation, entry.state);
    emitChanged();
}

} // namespace aurelo

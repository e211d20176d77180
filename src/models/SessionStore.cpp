#include "models/SessionStore.hpp"

#include "models/AccountName.hpp"
#include "platform/Text.hpp"

#include <glib.h>

#include <algorithm>
#include <ranges>

namespace aurelo {

SessionStore::SessionStore(UserDefaults& defaults, DockBadge* badge, WebSessionCleaner* cleaner)
    : m_defaults(defaults), m_badge(badge), m_cleaner(cleaner),
      m_unreadableList(defaults, kSessionsKey, "session list") {
    load();
}

ChatSession SessionStore::defaultSession() {
    return ChatSession::make("WhatsApp 1");
}

void SessionStore::load() {
    if (auto stored = m_defaults.value(kSessionsKey)) {
        auto decoded = decodeSessions(*stored);
        if (decoded && !decoded->empty())
            m_sessions = std::move(*decoded);
        else if (!decoded)
            m_unreadableList.markUnreadable();
    }
    // The default list is not written back: a first start leaves the defaults untouched.
    if (m_sessions.empty())
        m_sessions.push_back(defaultSession());
    m_selectedID = m_sessions.front().id;
}

void SessionStore::save() {
    if (!m_unreadableList.readyForWrite())
        return;
    (void)m_defaults.set(kSessionsKey, encodeSessions(m_sessions));
}

void SessionStore::assignSessions(std::vector<ChatSession> sessions) {
    m_sessions = std::move(sessions);
    save();
    m_changed.emit(Field::Sessions);
}

void SessionStore::setSelectedID(std::optional<std::string> id) {
    if (m_selectedID == id)
        return;
    m_selectedID = std::move(id);
    m_changed.emit(Field::SelectedID);
}

void SessionStore::setSessions(std::vector<ChatSession> sessions) {
    if (sessions.empty())
        sessions.push_back(defaultSession());
    assignSessions(std::move(sessions));
}

void SessionStore::updateSession(const ChatSession& session) {
    auto it = std::ranges::find(m_sessions, session.id, &ChatSession::id);
    if (it == m_sessions.end())
        return;
    auto sessions = m_sessions;
    sessions[static_cast<std::size_t>(it - m_sessions.begin())] = session;
    assignSessions(std::move(sessions));
}

void SessionStore::select(const std::string& id) {
    if (std::ranges::find(m_sessions, id, &ChatSession::id) != m_sessions.end())
        setSelectedID(id);
}

void SessionStore::add(std::optional<std::string> name) {
    std::string trimmed = name ? text::trimmed(*name) : std::string();
    if (trimmed.empty())
        trimmed = "WhatsApp " + std::to_string(m_sessions.size() + 1);
    auto sessions = m_sessions;
    sessions.push_back(ChatSession::make(std::move(trimmed)));
    std::string id = sessions.back().id;
    assignSessions(std::move(sessions));
    setSelectedID(id);
}

void SessionStore::addWebsite(std::string name, std::string url) {
    auto sessions = m_sessions;
    sessions.push_back(ChatSession::make(std::move(name), std::move(url)));
    std::string id = sessions.back().id;
    assignSessions(std::move(sessions));
    setSelectedID(id);
}

void SessionStore::addSession(ChatSession session) {
    auto sessions = m_sessions;
    sessions.push_back(std::move(session));
    std::string id = sessions.back().id;
    assignSessions(std::move(sessions));
    setSelectedID(id);
}

void SessionStore::rename(const std::string& id, const std::string& name) {
    auto it = std::ranges::find(m_sessions, id, &ChatSession::id);
    if (!AccountName::problem(name).empty() || it == m_sessions.end())
        return;
    ChatSession session = *it;
    session.name = text::trimmed(name);
    updateSession(session);
}

void SessionStore::setField(const std::string& id, std::optional<std::string> ChatSession::*field,
                            const std::string& value) {
    auto it = std::ranges::find(m_sessions, id, &ChatSession::id);
    if (it == m_sessions.end())
        return;
    ChatSession session = *it;
    session.*field = value;
    updateSession(session);
}

void SessionStore::setInputLanguage(const std::string& id, const std::string& code) {
    setField(id, &ChatSession::inputLanguageCode, code);
}

void SessionStore::setOutgoingLanguage(const std::string& id, const std::string& code) {
    setField(id, &ChatSession::outgoingLanguageCode, code);
}

void SessionStore::setIncomingLanguage(const std::string& id, const std::string& code) {
    setField(id, &ChatSession::incomingLanguageCode, code);
}

void SessionStore::setTranslationProvider(const std::string& id, const std::string& provider) {
    setField(id, &ChatSession::translationProvider, provider);
}

void SessionStore::move(const std::string& id, const std::string& beforeID) {
    if (id == beforeID)
        return;
    auto from = std::ranges::find(m_sessions, id, &ChatSession::id);
    if (from == m_sessions.end() ||
        std::ranges::find(m_sessions, beforeID, &ChatSession::id) == m_sessions.end())
        return;
    auto sessions = m_sessions;
    ChatSession moving = *from;
    sessions.erase(sessions.begin() + (from - m_sessions.begin()));
    auto to = std::ranges::find(sessions, beforeID, &ChatSession::id);
    sessions.insert(to, std::move(moving));
    assignSessions(std::move(sessions));
}

std::optional<std::string> SessionStore::neighbourOf(const std::string& id) const {
    auto removed = std::ranges::find(m_sessions, id, &ChatSession::id);
    if (removed == m_sessions.end())
        return std::nullopt;
    // The tab bar shows one platform's accounts; the tab beside the deleted one is in sight,
    // another platform's first account is not.
    const std::string key = platformKey(*removed);
    const auto samePlatform = [&key](const ChatSession& s) { return platformKey(s) == key; };
    const auto after = std::ranges::subrange(std::next(removed), m_sessions.end());
    const auto before = std::ranges::subrange(m_sessions.begin(), removed) | std::views::reverse;
    if (auto next = std::ranges::find_if(after, samePlatform); next != after.end())
        return next->id;
    if (auto previous = std::ranges::find_if(before, samePlatform); previous != before.end())
        return previous->id;
    if (!after.empty())
        return after.front().id;
    if (!before.empty())
        return before.front().id;
    return std::nullopt;
}

void SessionStore::remove(const ChatSession& session) {
    const std::string id = session.id;
    const std::optional<std::string> nextSelection =
        m_selectedID == id ? neighbourOf(id) : m_selectedID;
    auto sessions = m_sessions;
    std::erase_if(sessions, [&](const ChatSession& s) { return s.id == id; });
    // Saved once: the list is never stored empty, even for an instant, so a crash here cannot
    // leave an empty list behind.
    if (sessions.empty())
        sessions.push_back(defaultSession());
    assignSessions(std::move(sessions));

    if (m_unreadCounts.erase(id) > 0)
        m_changed.emit(Field::UnreadCounts);
    updateDockBadge();

    const bool kept = nextSelection && std::ranges::find(m_sessions, *nextSelection,
                                                         &ChatSession::id) != m_sessions.end();
    setSelectedID(kept ? *nextSelection : m_sessions.front().id);
    if (m_cleaner)
        m_cleaner->clear(id);
}

void SessionStore::setUnreadCount(int count, const std::string& id) {
    // A page that is being torn down can still report after its session was deleted; counting
    // that report would leave a badge no session can ever clear.
    if (std::ranges::find(m_sessions, id, &ChatSession::id) == m_sessions.end())
        return;
    count = std::clamp(count, 0, kMaximumUnreadCount);
    auto it = m_unreadCounts.find(id);
    if (it != m_unreadCounts.end() && it->second == count)
        return;
    m_unreadCounts[id] = count;
    m_changed.emit(Field::UnreadCounts);
    updateDockBadge();
}

long long SessionStore::totalUnreadCount() const {
    long long total = 0;
    for (const auto& [id, count] : m_unreadCounts)
        total += count;
    return total;
}

std::optional<std::string> SessionStore::badgeLabel(long long total) {
    if (total <= 0)
        return std::nullopt;
    if (total > 999)
        return "999+";
    return std::to_string(total);
}

void SessionStore::updateDockBadge() {
    if (!m_badge)
        return;
    long long total = totalUnreadCount();
    m_badge->show(badgeLabel(total), total);
}

std::vector<EnabledPlatform> SessionStore::enabledPlatforms() const {
    return aurelo::enabledPlatforms(m_sessions);
}

std::optional<std::string> SessionStore::currentPlatformID() const {
    return aurelo::currentPlatformID(m_sessions, m_selectedID);
}

std::vector<ChatSession> SessionStore::visibleSessions() const {
    return aurelo::visibleSessions(m_sessions, currentPlatformID());
}

} // namespace aurelo

#pragma once

// The ordered list of chat sessions, the selection and the unread counts. The list is saved to
// the user defaults on every change; the selection and the counts live only in memory.

#include "models/ChatSession.hpp"
#include "models/PlatformCatalogue.hpp"
#include "models/UnreadableStoredValue.hpp"
#include "models/WebSessionCleaner.hpp"
#include "platform/DockBadge.hpp"
#include "platform/UserDefaults.hpp"

#include <sigc++/sigc++.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

class SessionStore {
public:
    static constexpr std::string_view kSessionsKey = "aureloTranslator.sessions";
    static constexpr int kMaximumUnreadCount = 9999;

    enum class Field { Sessions, SelectedID, UnreadCounts };

    // `badge` and `cleaner` may be null (no badge; website data left alone). Both must outlive
    // the store.
    SessionStore(UserDefaults& defaults, DockBadge* badge, WebSessionCleaner* cleaner);
    SessionStore(const SessionStore&) = delete;
    SessionStore& operator=(const SessionStore&) = delete;

    const std::vector<ChatSession>& sessions() const { return m_sessions; }
    const std::optional<std::string>& selectedID() const { return m_selectedID; }
    const std::map<std::string, int>& unreadCounts() const { return m_unreadCounts; }

    // Replaces the whole list (a view editing sessions) and saves it. An empty list becomes the
    // default one-session list, since the store is never empty.
    void setSessions(std::vector<ChatSession> sessions);
    // Replaces the session with the same id and saves; an unknown id changes nothing.
    void updateSession(const ChatSession& session);
    // Selects a session; an unknown id changes nothing.
    void select(const std::string& id);

    void add(std::optional<std::string> name = std::nullopt);
    void addWebsite(std::string name, std::string url);
    // Appends a session complete with its settings in one change, and selects it. A session
    // must never be seen without its proxy: every change of the list can build its page.
    void addSession(ChatSession session);
    // Renames the account when the name keeps the AccountName rule; otherwise nothing changes.
    void rename(const std::string& id, const std::string& name);
    void setInputLanguage(const std::string& id, const std::string& code);
    void setOutgoingLanguage(const std::string& id, const std::string& code);
    void setIncomingLanguage(const std::string& id, const std::string& code);
    void setTranslationProvider(const std::string& id, const std::string& provider);
    void move(const std::string& id, const std::string& beforeID);
    // Deleting the selected account selects the tab beside it: the next account of the same
    // platform, else the previous one, else the nearest account of any platform.
    void remove(const ChatSession& session); // `delete` in the design; a C++ keyword here
    // Counts of ids not in the list are ignored.
    void setUnreadCount(int count, const std::string& id);
    long long totalUnreadCount() const;
    void updateDockBadge();
    void save();

    // The badge text for a total: none at 0 or below, the number up to 999, then "999+".
    static std::optional<std::string> badgeLabel(long long total);

    std::vector<EnabledPlatform> enabledPlatforms() const;
    std::optional<std::string> currentPlatformID() const;
    std::vector<ChatSession> visibleSessions() const;

    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    void load();
    void assignSessions(std::vector<ChatSession> sessions);
    void setSelectedID(std::optional<std::string> id);
    // The account to select once `id` is deleted; nullopt when it is the only one or unknown.
    std::optional<std::string> neighbourOf(const std::string& id) const;
    void setField(const std::string& id, std::optional<std::string> ChatSession::*field,
                  const std::string& value);
    static ChatSession defaultSession();

    UserDefaults& m_defaults;
    DockBadge* m_badge;
    WebSessionCleaner* m_cleaner;
    std::vector<ChatSession> m_sessions;
    std::optional<std::string> m_selectedID;
    std::map<std::string, int> m_unreadCounts;
    // The stored list, when it could not be read, until it has been kept aside.
    UnreadableStoredValue m_unreadableList;
    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo

#pragma once

// Each account's conversations and the language their customers write, one small file per
// account under $XDG_DATA_HOME/aurelo-translator/conversation-languages/.

#include "models/ConversationLanguageRule.hpp"
#include "platform/Cancellable.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace aurelo {

// A conversation is never named on disk: its key is an HMAC-SHA-256 of the page's conversation
// id under a random salt kept in the account's file, so the file tells nobody which contacts
// the agent talks to. Each file keeps the most recently used conversations only; a file that
// cannot be read is moved aside (".unreadable-<time>") and the account starts afresh.
class ConversationLanguageStore {
public:
    static constexpr std::size_t kMaximumConversations = 5000;

    // An empty folder keeps everything in memory only.
    explicit ConversationLanguageStore(std::filesystem::path folder,
                                       std::size_t maximumConversations = kMaximumConversations);
    ConversationLanguageStore(const ConversationLanguageStore&) = delete;
    ConversationLanguageStore& operator=(const ConversationLanguageStore&) = delete;
    // Writes what is still unwritten.
    ~ConversationLanguageStore();

    // $XDG_DATA_HOME/aurelo-translator/conversation-languages.
    static std::filesystem::path standardFolder();

    // What is known of the conversation; empty when nothing is.
    ConversationLanguageState state(const std::string& sessionID,
                                    const std::string& conversationID);
    // Keeps the state as the conversation's latest. The account's file is written once the
    // main loop is idle again, so that a batch of translated messages costs one write.
    void save(const std::string& sessionID, const std::string& conversationID,
              const ConversationLanguageState& state);
    // Writes every account changed since the last write now. Returns the reason of the last
    // failure (the states are kept in memory and written with the next change).
    std::optional<std::string> flush();
    // Forgets the account and deletes its file.
    void removeAccount(const std::string& sessionID);

    std::filesystem::path fileOf(const std::string& sessionID) const;
    // Where the account's unreadable file was moved, if it was, in this run.
    std::optional<std::filesystem::path> setAsideFile(const std::string& sessionID) const;

private:
    struct Entry {
        ConversationLanguageState state;
        std::uint64_t used = 0;
    };
    struct Account {
        std::string salt;
        std::map<std::string, Entry> conversations; // by key
        std::uint64_t clock = 0;
        std::optional<std::filesystem::path> setAside;
        // Set when an unreadable file could not be moved aside: it is never overwritten.
        bool readOnly = false;
    };

    Account& account(const std::string& sessionID);
    void load(const std::string& sessionID, Account& account);
    std::string keyOf(const Account& account, const std::string& conversationID) const;
    std::string encode(const Account& account) const;

    std::filesystem::path m_folder;
    std::size_t m_maximumConversations;
    std::map<std::string, Account> m_accounts;
    std::set<std::string> m_unwritten;
    bool m_flushPosted = false;
    Cancellable m_cancellable;
};

} // namespace aurelo

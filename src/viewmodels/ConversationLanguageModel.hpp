#pragma once

// The customer language of each account's open conversation: what the pages report, what the
// quick-settings row shows, and the language the agent's text goes out in.

#include "models/ConversationLanguageStore.hpp"
#include "models/SessionStore.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace aurelo {

class ConversationLanguageModel {
public:
    // The row's words.
    static constexpr std::string_view kAutomaticChoice = "自动识别";
    static constexpr std::string_view kManualNote = "手动";
    static constexpr std::string_view kOverrideName = "当前会话语言";

    // Kept in memory only until persistIn is called (the tests' and the sheets' case).
    ConversationLanguageModel(SessionStore& store, std::function<SessionDefaults()> defaults);
    ConversationLanguageModel(const ConversationLanguageModel&) = delete;
    ConversationLanguageModel& operator=(const ConversationLanguageModel&) = delete;
    ~ConversationLanguageModel();

    // Keeps what is learnt in files under `folder` from now on.
    void persistIn(std::filesystem::path folder);

    // A page's report of its open conversation (nullopt: none).
    void conversationReported(const std::string& sessionID,
                              std::optional<std::string> conversation);
    // A customer's message of `conversation` was translated and its language detected.
    void incomingLanguage(const std::string& sessionID, const std::string& conversation,
                          const std::string& text, const std::string& detectedCode);

    // For the account's page: nullopt while the account does not follow the customer or its
    // page has not reported yet; otherwise the open conversation and its outgoing language.
    std::optional<std::pair<std::optional<std::string>, ChatLanguage>>
    pageLanguage(const std::string& sessionID) const;
    // What the account's outgoing text is translated into now (translation box, phrases): the
    // open conversation's language when the account follows the customer, its own otherwise.
    ChatLanguage outgoingLanguage(const std::string& sessionID) const;
    // The same for an account that follows the customer; nullopt for one with a fixed language.
    std::optional<ChatLanguage> followedLanguage(const std::string& sessionID) const;

    // The row under the strip, for the selected account.
    bool rowShown() const;
    // "当前会话：西班牙语（自动识别）", "当前会话：德语（手动）" or "未识别，使用 英语".
    std::string rowText() const;
    // Whether the override picker can act: a conversation is open.
    bool overrideAvailable() const;
    // The picker's choices: kAutomaticChoice (value "") and every outgoing language.
    static std::vector<std::pair<std::string, std::string>> overrideChoices();
    // "" when the conversation's language is detected, else the manual choice's code.
    std::string overrideValue() const;
    // Sets or (with "") clears the manual language of the selected account's open conversation.
    void setOverride(const std::string& value);

    // Anything the row shows may have changed.
    sigc::signal<void()>& signalChanged() { return m_changed; }
    // A page's language may have changed (a subset of the above: not the store's own changes).
    sigc::signal<void()>& signalPagesChanged() { return m_pagesChanged; }

private:
    struct Open {
        std::optional<std::string> conversation;
        ConversationLanguageState state;
    };
    const ChatSession* session(const std::string& sessionID) const;
    const ChatSession* selected() const;
    const Open* open(const std::string& sessionID) const;
    ChatLanguage fallback(const ChatSession& session) const;
    void forgetRemovedAccounts();
    void emitChanged();

    SessionStore& m_store;
    std::function<SessionDefaults()> m_defaults;
    std::unique_ptr<ConversationLanguageStore> m_files;
    std::map<std::string, Open> m_open; // by session id, once its page reported
    std::vector<std::string> m_knownSessions;
    sigc::connection m_storeConnection;
    sigc::signal<void()> m_changed;
    sigc::signal<void()> m_pagesChanged;
};

} // namespace aurelo

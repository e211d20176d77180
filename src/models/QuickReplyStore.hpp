#pragma once

// The phrase library "常用语", in the user's order, saved to the defaults on every change.

#include "models/QuickReply.hpp"
#include "models/UnreadableStoredValue.hpp"
#include "platform/UserDefaults.hpp"

#include <sigc++/sigc++.h>

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace aurelo {

class QuickReplyStore {
public:
    static constexpr std::string_view kQuickRepliesKey = "aureloTranslator.quickReplies";
    // Limits of what the editor accepts. A phrase goes through one translation request and into
    // a chat composer; a library is scrolled through by hand.
    static constexpr std::size_t kMaximumTitleLength = 40;
    static constexpr std::size_t kMaximumTextLength = 2000;
    static constexpr std::size_t kMaximumCount = 500;

    explicit QuickReplyStore(UserDefaults& defaults);
    QuickReplyStore(const QuickReplyStore&) = delete;
    QuickReplyStore& operator=(const QuickReplyStore&) = delete;

    const std::vector<QuickReply>& replies() const { return m_replies; }
    const QuickReply* find(const std::string& id) const;
    // Whether the stored list could not be read (it is kept aside at the first change).
    bool storedListUnreadable() const { return m_unreadableList.unreadable(); }

    // Adds a phrase at the end and returns its id, or the reason in the editor's words. The text
    // is trimmed; an empty title becomes the start of the text.
    std::expected<std::string, std::string> add(std::string_view title, std::string_view text);
    std::expected<void, std::string> update(const std::string& id, std::string_view title,
                                            std::string_view text);
    void remove(const std::string& id);
    // Moves a phrase to `index` in the list (clamped to the end); unknown ids change nothing.
    void move(const std::string& id, std::size_t index);

    sigc::signal<void()>& signalChanged() { return m_changed; }

private:
    std::expected<QuickReply, std::string> checked(std::string id, std::string_view title,
                                                   std::string_view text) const;
    void assign(std::vector<QuickReply> replies);

    UserDefaults& m_defaults;
    UnreadableStoredValue m_unreadableList;
    std::vector<QuickReply> m_replies;
    sigc::signal<void()> m_changed;
};

} // namespace aurelo

#pragma once

// The "常用语" list beside the translation box: type to filter the phrases by title or text,
// move through them with the arrows, and pick one. A picked phrase is translated into the
// selected account's outgoing language (the account's engine, through the shared service and
// its cache) and put into that account's composer, the way 确认填入 puts the box's result; a
// translation that still holds Chinese is refused as the box refuses it. Picked with Shift, the
// phrase goes in as written, Chinese or not: the user chose the text, and the page's composer
// guard still holds a Chinese send.

#include "models/QuickReplyStore.hpp"
#include "platform/Cancellable.hpp"
#include "translation/TranslationService.hpp"
#include "viewmodels/ContentViewModel.hpp"

#include <sigc++/sigc++.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace aurelo {

class QuickReplyPicker {
public:
    enum class Field { Matches, Highlighted, Busy, ErrorMessage };
    enum class Insertion { Translated, AsWritten };

    QuickReplyPicker(QuickReplyStore& replies, ContentViewModel& content,
                     const TranslationService& translator);
    QuickReplyPicker(const QuickReplyPicker&) = delete;
    QuickReplyPicker& operator=(const QuickReplyPicker&) = delete;
    ~QuickReplyPicker();

    const std::string& query() const { return m_query; }
    // The phrases whose title or text holds the query, whatever its case; all when it is blank.
    const std::vector<QuickReply>& matches() const { return m_matches; }
    std::optional<std::size_t> highlighted() const { return m_highlighted; }
    bool busy() const { return m_busy; }
    const std::string& errorMessage() const { return m_errorMessage; }

    void setQuery(std::string query);
    // Moves the highlight by `delta` rows, stopping at either end.
    void moveHighlight(int delta);
    void highlight(std::size_t index);
    void pickHighlighted(Insertion insertion);
    void pick(const std::string& id, Insertion insertion);
    // The n-th phrase of the library (1…9), translated; false when there is none.
    bool pickNumbered(int number);
    // The list opens afresh: no query, the first phrase highlighted, no old error.
    void reset();

    // A phrase was handed to the composer: the list closes.
    sigc::signal<void()>& signalInserted() { return m_inserted; }
    sigc::signal<void(Field)>& signalChanged() { return m_changed; }

private:
    void refilter();
    void insert(const std::string& sessionID, std::string text);
    template <typename T> void assign(T& member, T value, Field field);

    QuickReplyStore& m_replies;
    ContentViewModel& m_content;
    const TranslationService& m_translator;
    Cancellable m_cancellable;
    std::vector<sigc::connection> m_connections;

    std::string m_query;
    std::vector<QuickReply> m_matches;
    std::optional<std::size_t> m_highlighted;
    bool m_busy = false;
    std::string m_errorMessage;
    std::string m_requestID;

    sigc::signal<void()> m_inserted;
    sigc::signal<void(Field)> m_changed;
};

} // namespace aurelo

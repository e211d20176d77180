#include "viewmodels/QuickReplyPicker.hpp"

#include "platform/Text.hpp"

#include <algorithm>

namespace aurelo {

QuickReplyPicker::QuickReplyPicker(QuickReplyStore& replies, ContentViewModel& content,
                                   const TranslationService& translator)
    : m_replies(replies), m_content(content), m_translator(translator) {
    m_connections.push_back(m_replies.signalChanged().connect([this] { refilter(); }));
    // A translation under way belongs to the account that was selected when it was picked.
    m_connections.push_back(
        m_content.store().signalChanged().connect([this](SessionStore::Field f) {
            if (f == SessionStore::Field::SelectedID) {
                m_requestID.clear();
                assign(m_busy, false, Field::Busy);
            }
        }));
    refilter();
}

QuickReplyPicker::~QuickReplyPicker() {
    for (auto& connection : m_connections)
        connection.disconnect();
}

template <typename T> void QuickReplyPicker::assign(T& member, T value, Field field) {
    if (member == value)
        return;
    member = std::move(value);
    m_changed.emit(field);
}

void QuickReplyPicker::setQuery(std::string query) {
    m_query = std::move(query);
    refilter();
}

void QuickReplyPicker::refilter() {
    const std::string needle = text::lowercased(text::trimmed(m_query));
    std::vector<QuickReply> matches;
    for (const auto& reply : m_replies.replies()) {
        if (needle.empty() || text::lowercased(reply.title).find(needle) != std::string::npos ||
            text::lowercased(reply.text).find(needle) != std::string::npos)
            matches.push_back(reply);
    }
    m_matches = std::move(matches);
    m_changed.emit(Field::Matches);
    assign(m_highlighted, m_matches.empty() ? std::nullopt : std::optional<std::size_t>(0),
           Field::Highlighted);
}

void QuickReplyPicker::moveHighlight(int delta) {
    if (m_matches.empty())
        return;
    const auto last = static_cast<long>(m_matches.size()) - 1;
    const long current = static_cast<long>(m_highlighted.value_or(0));
    highlight(static_cast<std::size_t>(std::clamp(current + delta, 0L, last)));
}

void QuickReplyPicker::highlight(std::size_t index) {
    if (index < m_matches.size())
        assign(m_highlighted, std::optional<std::size_t>(index), Field::Highlighted);
}

void QuickReplyPicker::pickHighlighted(Insertion insertion) {
    if (m_highlighted && *m_highlighted < m_matches.size())
        pick(m_matches[*m_highlighted].id, insertion);
}

bool QuickReplyPicker::pickNumbered(int number) {
    const auto& replies = m_replies.replies();
    if (number < 1 || static_cast<std::size_t>(number) > replies.size())
        return false;
    pick(replies[static_cast<std::size_t>(number - 1)].id, Insertion::Translated);
    return true;
}

void QuickReplyPicker::reset() {
    m_query.clear();
    refilter();
    assign(m_errorMessage, std::string(), Field::ErrorMessage);
}

void QuickReplyPicker::insert(const std::string& sessionID, std::string text) {
    m_content.translationBox().insertText(sessionID, std::move(text));
    m_inserted.emit();
}

void QuickReplyPicker::pick(const std::string& id, Insertion insertion) {
    const QuickReply* reply = m_replies.find(id);
    const auto& sessionID = m_content.store().selectedID();
    if (!reply || !sessionID)
        return;
    assign(m_errorMessage, std::string(), Field::ErrorMessage);
    if (insertion == Insertion::AsWritten) {
        m_requestID.clear();
        assign(m_busy, false, Field::Busy);
        insert(*sessionID, reply->text);
        return;
    }
    const auto& sessions = m_content.store().sessions();
    auto session = std::ranges::find(sessions, *sessionID, &ChatSession::id);
    if (session == sessions.end())
        return;
    const auto effective = effectiveSettings(*session, m_content.sessionDefaults());
    const std::string requestID = newSessionID();
    const std::string target(code(m_content.conversationLanguages().outgoingLanguage(*sessionID)));
    m_requestID = requestID;
    assign(m_busy, true, Field::Busy);
    m_translator.translate(
        reply->text, target, m_content.settings().configuration(effective.provider),
        [this, cancellation = m_cancellable.token(), requestID, target,
         sessionID = *sessionID](ServiceOutcome<TranslationResult> outcome) {
            if (cancellation.isCancelled() || m_requestID != requestID)
                return;
            m_requestID.clear();
            assign(m_busy, false, Field::Busy);
            if (!outcome) {
                assign(m_errorMessage, "常用语翻译失败：" + describe(outcome.error()),
                       Field::ErrorMessage);
                return;
            }
            if (TranslationBoxModel::stillChinese(outcome->text, target)) {
                assign(m_errorMessage, std::string(TranslationBoxModel::kStillChinese),
                       Field::ErrorMessage);
                return;
            }
            insert(sessionID, outcome->text);
        });
}

} // namespace aurelo

#include "models/QuickReplyStore.hpp"

#include "models/ChatSession.hpp"
#include "platform/Text.hpp"

#include <glib.h>

#include <algorithm>

namespace aurelo {

namespace {

constexpr std::size_t kDerivedTitleLength = 20;

std::size_t characterCount(const std::string& text) {
    return static_cast<std::size_t>(g_utf8_strlen(text.c_str(), static_cast<gssize>(text.size())));
}

// The first line of the text, cut to a short title.
std::string derivedTitle(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (characterCount(line) <= kDerivedTitleLength)
        return text::trimmed(line);
    const char* end = g_utf8_offset_to_pointer(line.c_str(), kDerivedTitleLength);
    return text::trimmed(std::string_view(line.c_str(), std::size_t(end - line.c_str()))) + "…";
}

} // namespace

QuickReplyStore::QuickReplyStore(UserDefaults& defaults)
    : m_defaults(defaults), m_unreadableList(defaults, kQuickRepliesKey, "phrase list") {
    if (auto stored = m_defaults.value(kQuickRepliesKey)) {
        if (auto decoded = decodeQuickReplies(*stored)) {
            m_replies = std::move(*decoded);
        } else {
            g_warning("The phrase list cannot be read: %s", decoded.error().c_str());
            m_unreadableList.markUnreadable();
        }
    }
}

const QuickReply* QuickReplyStore::find(const std::string& id) const {
    auto it = std::ranges::find(m_replies, id, &QuickReply::id);
    return it == m_replies.end() ? nullptr : &*it;
}

std::expected<QuickReply, std::string> QuickReplyStore::checked(std::string id,
                                                                 std::string_view title,
                                                                 std::string_view text) const {
    QuickReply reply{std::move(id), text::trimmed(title), text::trimmed(text)};
    if (!g_utf8_validate(reply.title.data(), static_cast<gssize>(reply.title.size()), nullptr) ||
        !g_utf8_validate(reply.text.data(), static_cast<gssize>(reply.text.size()), nullptr))
        return std::unexpected("常用语含有无法识别的字符");
    if (reply.text.empty())
        return std::unexpected("常用语内容不能为空");
    if (characterCount(reply.text) > kMaximumTextLength)
        return std::unexpected("常用语内容太长，最多 " + std::to_string(kMaximumTextLength) + " 个字");
    if (characterCount(reply.title) > kMaximumTitleLength)
        return std::unexpected("标题太长，最多 " + std::to_string(kMaximumTitleLength) + " 个字");
    if (reply.title.empty())
        reply.title = derivedTitle(reply.text);
    return reply;
}

std::expected<std::string, std::string> QuickReplyStore::add(std::string_view title,
                                                            std::string_view text) {
    if (m_replies.size() >= kMaximumCount)
        return std::unexpected("常用语已达上限 " + std::to_string(kMaximumCount) + " 条");
    auto reply = checked(newSessionID(), title, text);
    if (!reply)
        return std::unexpected(reply.error());
    auto replies = m_replies;
    replies.push_back(std::move(*reply));
    std::string id = replies.back().id;
    assign(std::move(replies));
    return id;
}

std::expected<void, std::string> QuickReplyStore::update(const std::string& id,
                                                        std::string_view title,
                                                        std::string_view text) {
    auto it = std::ranges::find(m_replies, id, &QuickReply::id);
    if (it == m_replies.end())
        return std::unexpected("这条常用语已被删除");
    auto reply = checked(id, title, text);
    if (!reply)
        return std::unexpected(reply.error());
    auto replies = m_replies;
    replies[std::size_t(it - m_replies.begin())] = std::move(*reply);
    assign(std::move(replies));
    return {};
}

void QuickReplyStore::remove(const std::string& id) {
    auto replies = m_replies;
    if (std::erase_if(replies, [&](const QuickReply& reply) { return reply.id == id; }) > 0)
        assign(std::move(replies));
}

void QuickReplyStore::move(const std::string& id, std::size_t index) {
    auto it = std::ranges::find(m_replies, id, &QuickReply::id);
    if (it == m_replies.end())
        return;
    const auto from = std::size_t(it - m_replies.begin());
    const auto to = std::min(index, m_replies.size() - 1);
    if (from == to)
        return;
    auto replies = m_replies;
    QuickReply moved = std::move(replies[from]);
    replies.erase(replies.begin() + std::ptrdiff_t(from));
    replies.insert(replies.begin() + std::ptrdiff_t(to), std::move(moved));
    assign(std::move(replies));
}

void QuickReplyStore::assign(std::vector<QuickReply> replies) {
    m_replies = std::move(replies);
    if (m_unreadableList.readyForWrite())
        (void)m_defaults.set(kQuickRepliesKey, encodeQuickReplies(m_replies));
    m_changed.emit();
}

} // namespace aurelo

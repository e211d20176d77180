#include "viewmodels/UnreadAttention.hpp"

namespace aurelo {

std::string UnreadAttention::windowTitle(long long total) {
    const auto label = SessionStore::badgeLabel(total);
    if (!label)
        return std::string(kApplicationTitle);
    return "(" + *label + ") " + std::string(kApplicationTitle);
}

std::string UnreadAttention::noticeBody(long long total) {
    return "有 " + SessionStore::badgeLabel(total).value_or("0") + " 条未读消息";
}

UnreadAttention::UnreadAttention(SessionStore& store, MainWindowPreferences& preferences,
                                 DesktopNotice& notice, QuietHoursNow quietHoursNow)
    : m_store(store), m_preferences(preferences), m_notice(notice),
      m_quietHoursNow(std::move(quietHoursNow)),
      m_total(store.totalUnreadCount()) {
    m_storeConnection = m_store.signalChanged().connect([this](SessionStore::Field field) {
        if (field == SessionStore::Field::UnreadCounts || field == SessionStore::Field::Sessions)
            totalChanged();
    });
    m_preferencesConnection =
        m_preferences.signalChanged().connect([this](MainWindowPreferences::Field field) {
            // Do not disturb takes a notification already on screen away with it.
            if (field == MainWindowPreferences::Field::DoNotDisturb &&
                m_preferences.doNotDisturb() && m_noticeShown) {
                m_notice.withdraw();
                m_noticeShown = false;
            }
        });
}

UnreadAttention::~UnreadAttention() {
    m_storeConnection.disconnect();
    m_preferencesConnection.disconnect();
}

void UnreadAttention::setWindowVisible(bool visible) {
    m_windowVisible = visible;
    if (visible && m_noticeShown) {
        m_notice.withdraw();
        m_noticeShown = false;
    }
}

void UnreadAttention::totalChanged() {
    const long long total = m_store.totalUnreadCount();
    if (total == m_total)
        return;
    const bool fewer = total < m_total;
    m_total = total;
    m_titleChanged.emit();
    if (total <= 0) {
        if (m_noticeShown)
            m_notice.withdraw();
        m_noticeShown = false;
        return;
    }
    // Fewer unread messages are no reason to call the user back; a notification already on
    // screen is corrected, though, so it never claims more than there are.
    // Quiet hours hold back a new notification; one already on screen is still corrected.
    const bool silenced = m_preferences.doNotDisturb() || (!m_noticeShown && m_quietHoursNow());
    if (m_windowVisible || silenced || (fewer && !m_noticeShown))
        return;
    // Past 999 the text stays the same; the desktop is not asked to show it again.
    auto body = noticeBody(total);
    if (m_noticeShown && body == m_shownBody)
        return;
    m_notice.show(std::string(kApplicationTitle), body);
    m_noticeShown = true;
    m_shownBody = std::move(body);
}

} // namespace aurelo

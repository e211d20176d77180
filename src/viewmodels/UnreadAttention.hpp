#pragma once

// The unread total where a stock desktop shows no launcher badge: in the window title, and,
// while the window is hidden, in one desktop notification that each change replaces.

#include "models/SessionStore.hpp"
#include "platform/DesktopNotice.hpp"
#include "viewmodels/MainWindowPreferences.hpp"

#include <sigc++/sigc++.h>

#include <functional>
#include <string>

namespace aurelo {

class UnreadAttention {
public:
    static constexpr std::string_view kApplicationTitle = "Aurelo翻译器";
    // The id the notification is sent under, so that the next count replaces it.
    static constexpr const char* kNoticeID = "unread-messages";

    // The window title for a total: "(12) Aurelo翻译器", the plain title with nothing unread,
    // and the dock badge's "999+" past 999.
    static std::string windowTitle(long long total);
    // The notification's text for a total.
    static std::string noticeBody(long long total);

    // Whether the quiet-hours schedule silences notifications at this moment.
    using QuietHoursNow = std::function<bool()>;

    // The window starts out shown. All three must outlive this object.
    UnreadAttention(SessionStore& store, MainWindowPreferences& preferences, DesktopNotice& notice,
                    QuietHoursNow quietHoursNow);
    UnreadAttention(const UnreadAttention&) = delete;
    UnreadAttention& operator=(const UnreadAttention&) = delete;
    ~UnreadAttention();

    std::string windowTitle() const { return windowTitle(m_total); }
    // Hiding the window lets the next change of the total notify; showing it takes the
    // notification away, since the title now says the same.
    void setWindowVisible(bool visible);

    sigc::signal<void()>& signalTitleChanged() { return m_titleChanged; }

private:
    void totalChanged();

    SessionStore& m_store;
    MainWindowPreferences& m_preferences;
    DesktopNotice& m_notice;
    QuietHoursNow m_quietHoursNow;
    long long m_total = 0;
    bool m_windowVisible = true;
    bool m_noticeShown = false;
    std::string m_shownBody;
    sigc::signal<void()> m_titleChanged;
    sigc::connection m_storeConnection;
    sigc::connection m_preferencesConnection;
};

} // namespace aurelo

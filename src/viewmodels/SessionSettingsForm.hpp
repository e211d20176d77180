#pragma once

// "账号独立设置": the selected account's languages, engine and proxy. It opens with the
// account's effective values, so that saving without edits leaves the account as it was.

#include "viewmodels/AccountFieldsForm.hpp"
#include "viewmodels/WebsiteForm.hpp"

#include <optional>
#include <string>
#include <vector>

namespace aurelo {

class SessionSettingsForm : public AccountFieldsForm {
public:
    static constexpr std::string_view kPortInvalid =
        "代理端口必须在 1–65535 之间；不使用代理时请清空代理主机。";

    // What the window provides: the global values an account falls back to, and what follows
    // a save (every page reloaded).
    SessionSettingsForm(SessionStore& store, std::function<SessionDefaults()> sessionDefaults,
                        std::function<void()> saved);

    // "自动休眠": off (nullopt) or the minutes not shown after which the account sleeps.
    const std::optional<int>& hibernateMinutes() const { return m_hibernateMinutes; }
    void setHibernateMinutes(std::optional<int> minutes);
    // The picker's entries in order, and each one's label.
    static std::vector<std::optional<int>> hibernationChoices();
    static std::string hibernationLabel(std::optional<int> minutes);
    // What the sheet says under the picker: a sleeping account reports no unread count.
    static constexpr std::string_view kHibernationNote =
        "休眠中的账号不加载网页、不占用内存，也不显示未读消息数；选中该账号时重新载入。";

    // "拼写检查": on unless the account turned it off.
    bool spellChecking() const { return m_spellChecking; }
    void setSpellChecking(bool on) { assign(m_spellChecking, on, Field::SpellChecking); }
    // "消息通知": the page's own notifications reach the desktop (勿扰 still silences them).
    bool notifications() const { return m_notifications; }
    void setNotifications(bool on) { assign(m_notifications, on, Field::Notifications); }

    // "网站地址": a custom website's address, which the sheet lets the user change; other
    // platforms have theirs fixed and the sheet shows no field.
    bool hasAddress() const { return m_hasAddress; }
    const std::string& address() const { return m_address; }
    void setAddress(std::string value);
    std::string addressNote() const { return WebsiteForm::schemeNote(m_address); }

    // Opens the sheet for the selected account; nothing without a selection.
    void begin();
    // "保存并重新载入": writes the languages, engine and proxy into the selected account.
    void save();

protected:
    std::string proxyCheckAddress() const override;

private:
    std::optional<int> m_hibernateMinutes;
    bool m_spellChecking = true;
    bool m_notifications = true;
    bool m_hasAddress = false;
    std::string m_address;
};

} // namespace aurelo

#pragma once

#include "platform/NotificationCenter.hpp"
#include "views/SettingsView.hpp"

namespace aurelo {

// What every settings page is built from. The settings panel and the settings window both build
// a new page each time they are shown, so nothing typed into the old one survives.
struct SettingsPageFactory {
    SettingsStore& settings;
    AccountStore& account;
    AppLockStore& appLock;
    NotificationCenter& notifications;
    QuickReplyStore* quickReplies = nullptr;
    SettingsGlossaryModel::Fetch fetchGlossary = SettingsGlossaryModel::serviceFetch();

    // A managed page; its owner adds it to a container.
    SettingsView* makePage() const {
        return Gtk::make_managed<SettingsView>(settings, account, appLock, notifications,
                                               quickReplies, fetchGlossary);
    }
};

} // namespace aurelo

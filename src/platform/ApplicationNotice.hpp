#pragma once

#include "platform/DesktopNotice.hpp"

#include <string>

namespace aurelo {

// A DesktopNotice sent through the running GApplication under a fixed notification id. GLib
// passes the id on to the desktop (as the replaced notification of org.freedesktop.Notifications,
// or the id of org.gtk.Notifications and the portal), so each show replaces the last one.
// Clicking the notification activates the application, which shows its window. Without a
// registered application (tests, or before start-up) nothing is sent.
class ApplicationNotice final : public DesktopNotice {
public:
    explicit ApplicationNotice(std::string id);
    ~ApplicationNotice() override;

    void show(const std::string& title, const std::string& body) override;
    void withdraw() override;

private:
    std::string m_id;
    bool m_shown = false;
};

} // namespace aurelo

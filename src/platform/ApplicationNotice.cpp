#include "platform/ApplicationNotice.hpp"

#include "platform/GRef.hpp"

#include <gio/gio.h>

namespace aurelo {

namespace {

GApplication* registeredApplication() {
    GApplication* application = g_application_get_default();
    return application && g_application_get_is_registered(application) ? application : nullptr;
}

} // namespace

ApplicationNotice::ApplicationNotice(std::string id) : m_id(std::move(id)) {}

ApplicationNotice::~ApplicationNotice() {
    // A notice about a state that ends with us would otherwise stay on the desktop.
    withdraw();
}

void ApplicationNotice::show(const std::string& title, const std::string& body) {
    GApplication* application = registeredApplication();
    if (!application)
        return;
    auto notification = adoptGRef(g_notification_new(title.c_str()));
    g_notification_set_body(notification.get(), body.c_str());
    g_application_send_notification(application, m_id.c_str(), notification.get());
    m_shown = true;
}

void ApplicationNotice::withdraw() {
    if (!m_shown)
        return;
    m_shown = false;
    if (GApplication* application = registeredApplication())
        g_application_withdraw_notification(application, m_id.c_str());
}

} // namespace aurelo

#pragma once

// Whether the desktop shows this application's notifications, and the way to its notification
// settings. The settings page talks to this interface only, so its rules run against a fake.

#include <functional>

namespace aurelo {

// The states a notification permission can be in, as the settings page distinguishes them.
enum class NotificationAuthorizationStatus {
    NotDetermined, // never asked: asking may allow them
    Denied,        // the desktop will not show them; only its settings can change that
    Authorized,
    Provisional,
    Ephemeral,
    Unknown, // the desktop could not be asked
};

class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;

    // Reads the current status. `done` runs once on the main loop, never inside the call, and
    // not at all once the centre is destroyed.
    virtual void
    readAuthorizationStatus(std::function<void(NotificationAuthorizationStatus)> done) = 0;
    // Asks the user for permission where the desktop has such a prompt. `done` runs once on the
    // main loop whatever the answer (granted, refused or failed), under the same rules.
    virtual void requestAuthorization(std::function<void()> done) = 0;
    // Opens the desktop's notification settings where it has them; nothing happens otherwise
    // and nothing is reported.
    virtual void openNotificationSettings() = 0;
};

} // namespace aurelo

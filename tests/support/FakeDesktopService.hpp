#pragma once

// A stand-in for a desktop service on the test's private session bus: owns a well-known name and
// answers and records every call of the interface of that name at one object path. It answers
// from GDBus's own thread, as a service in a process of its own would: WebKit asks the
// notification server for its capabilities with a blocking call from the main thread.

#include "platform/GRef.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace aurelo::test {

struct RecordedCall {
    std::string method;
    GRef<GVariant> parameters;
};

// What a Notify call asked the notification server to show.
struct ShownNotification {
    std::string summary, body, imagePath;
};

class FakeDesktopService {
public:
    // `reply` builds the answer of a method (nullptr: an empty reply).
    FakeDesktopService(std::string name, std::string objectPath,
                       std::function<GVariant*(const std::string& method)> reply);
    FakeDesktopService(const FakeDesktopService&) = delete;
    FakeDesktopService& operator=(const FakeDesktopService&) = delete;
    ~FakeDesktopService();

    bool owned() const { return m_owned; }
    std::vector<RecordedCall> calls() const;
    // The notifications asked for so far, in order (of the notification server).
    std::vector<ShownNotification> notified() const;
    // What the desktop sends when the user clicks the body of its notification `id`.
    static void clickNotification(guint32 id);

    static FakeDesktopService fileManager();   // org.freedesktop.FileManager1
    static FakeDesktopService notifications(); // org.freedesktop.Notifications

private:
    struct State;

    std::shared_ptr<State> m_state;
    GRef<GDBusConnection> m_bus;
    guint m_filter = 0;
    bool m_owned = false;
};

} // namespace aurelo::test

#pragma once

// A stand-in for a desktop service on the test's private session bus: owns a well-known name,
// exports one interface and records every method call. Used for the file manager
// (org.freedesktop.FileManager1) and the notification server (org.freedesktop.Notifications).
// It runs on a thread of its own, as a real service runs in a process of its own: WebKit asks the
// notification server for its capabilities with a blocking call from the main thread.

#include "platform/GRef.hpp"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace aurelo::test {

struct RecordedCall {
    std::string method;
    GRef<GVariant> parameters;
};

class FakeDesktopService {
public:
    // `reply` builds the answer of a method (nullptr: an empty reply).
    FakeDesktopService(const std::string& busName, const std::string& objectPath,
                       const std::string& introspectionXml,
                       std::function<GVariant*(const std::string& method)> reply);
    FakeDesktopService(const FakeDesktopService&) = delete;
    FakeDesktopService& operator=(const FakeDesktopService&) = delete;
    ~FakeDesktopService();

    // Whether the name is ours on the bus (owning is asynchronous).
    bool owned() const { return m_owned; }
    std::vector<RecordedCall> calls() const;

    static FakeDesktopService fileManager();
    static FakeDesktopService notifications();

private:
    static void methodCallCallback(GDBusConnection*, const char*, const char*, const char*,
                                   const char* method, GVariant* parameters,
                                   GDBusMethodInvocation* invocation, gpointer self);
    static void busAcquiredCallback(GDBusConnection* bus, const char*, gpointer self);
    static void nameAcquiredCallback(GDBusConnection*, const char*, gpointer self);

    void run(std::string busName);

    std::string m_objectPath;
    GDBusNodeInfo* m_node = nullptr;
    std::function<GVariant*(const std::string&)> m_reply;
    guint m_ownerId = 0;
    guint m_registrationId = 0;
    GRef<GDBusConnection> m_bus;
    std::atomic<bool> m_owned{false};
    mutable std::mutex m_mutex;
    std::vector<RecordedCall> m_calls;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    std::thread m_thread;
};

} // namespace aurelo::test

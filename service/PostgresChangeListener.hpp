#pragma once

// A connection of its own that LISTENs to the channel the store's triggers notify when engines or
// provider settings change, on whichever instance or admin command. It says when it starts and
// stops hearing (connected and listening, or not) and when a change is notified, from its own
// thread; it reconnects by itself. TCP keep-alives end a connection whose server vanished within
// about ten seconds, so a silent loss cannot leave it listening to nothing for long.

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace aurelo::service {

class PostgresChangeListener {
public:
    static constexpr const char* kChannel = "aurelo_changes";

    PostgresChangeListener(std::string uri, std::chrono::milliseconds reconnectPause,
                           std::function<void(bool listening)> onListening,
                           std::function<void()> onChange);
    PostgresChangeListener(const PostgresChangeListener&) = delete;
    PostgresChangeListener& operator=(const PostgresChangeListener&) = delete;
    ~PostgresChangeListener(); // stops and joins its thread

private:
    void run(std::stop_token stop);

    const std::string m_uri;
    const std::chrono::milliseconds m_reconnectPause;
    std::function<void(bool)> m_onListening;
    std::function<void()> m_onChange;
    std::jthread m_thread; // last: started once the rest is there
};

} // namespace aurelo::service

#pragma once

// A PulseAudio daemon of the test's own, with one null sink and a socket in a temporary folder,
// so that captions can be tested with real playback and capture without a sound card and
// without touching a sound server of the machine.

#include <glib.h>

#include <chrono>
#include <functional>
#include <string>

namespace aurelo::test {

// Runs the main loop until `condition` holds, checking it at least every 20 ms.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

class PrivateSoundServer {
public:
    PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;
    ~PrivateSoundServer();

    // Starts the daemon and waits until its socket accepts clients. On failure, `failure()` says
    // why, with the daemon's log.
    bool start();
    const std::string& failure() const { return m_failure; }

    // The value for PULSE_SERVER: "unix:<folder>/native".
    std::string address() const;
    const std::string& directory() const { return m_directory; }

private:
    static void childExitedCallback(GPid pid, gint status, gpointer self);
    std::string log() const;

    std::string m_directory;
    GPid m_pid = 0;
    bool m_exited = false;
    std::string m_failure;
};

} // namespace aurelo::test

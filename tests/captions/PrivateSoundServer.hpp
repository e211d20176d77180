#pragma once

// A PulseAudio daemon of the test's own, with one null sink and a socket in a temporary folder,
// so that captions can be tested with real playback and capture without a sound card and
// without touching a sound server of the machine.

#include "support/TestDirectory.hpp"

#include <glib.h>

#include <optional>
#include <string>

namespace aurelo::test {

class PrivateSoundServer {
public:
    PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;
    ~PrivateSoundServer();

    // Starts the daemon, waits until its socket accepts clients and points this process and the
    // children it starts from now on (PULSE_SERVER) at it, until the server goes. On failure,
    // `failure()` says why, with the daemon's log.
    bool start();
    // The first of the programs a real run needs that is not installed, if any.
    static std::optional<std::string> missingProgram();
    // Synthesises `ssml` (en-US, a slow voice) into <directory>/<name>.wav and returns its path.
    std::string speak(const std::string& name, const std::string& ssml) const;
    const std::string& failure() const { return m_failure; }

    // The value for PULSE_SERVER: "unix:<folder>/native".
    std::string address() const;
    const std::string& directory() const { return m_directory; }

private:
    static void childExitedCallback(GPid pid, gint status, gpointer self);
    std::string log() const;

    TestDirectory m_folder;
    std::string m_directory;
    GPid m_pid = 0;
    bool m_exited = false;
    std::string m_failure;
    std::optional<std::string> m_previousServer;
    bool m_pointed = false;
};

} // namespace aurelo::test

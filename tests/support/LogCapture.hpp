#pragma once

#include <string>
#include <vector>

namespace aurelo::test {

struct CapturedLog {
    std::string category;
    std::string message;
    std::string priority;
};

// Records the application's structured log entries (GLib allows one writer per process,
// installed on first use); other entries still reach the default writer.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<CapturedLog> entries() const;
    std::vector<std::string> messages() const;
};

} // namespace aurelo::test

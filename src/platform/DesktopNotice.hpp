#pragma once

#include <string>

namespace aurelo {

// One desktop notification that the application keeps up to date: showing it again replaces
// the one on screen instead of adding another, and withdrawing it takes it away.
class DesktopNotice {
public:
    virtual ~DesktopNotice() = default;
    virtual void show(const std::string& title, const std::string& body) = 0;
    virtual void withdraw() = 0;
};

} // namespace aurelo

#pragma once

// A value under one key of the defaults that could not be read at start. It is the user's only
// copy of what it held (their accounts, their phrases), so before the first write replaces it,
// it is kept in a file of its own beside the defaults; when that fails, the new value is not
// written and stays in memory only, rather than destroying the old one.

#include "platform/UserDefaults.hpp"

#include <string>
#include <string_view>

namespace aurelo {

class UnreadableStoredValue {
public:
    // `what` names the value in the log, e.g. "session list".
    UnreadableStoredValue(UserDefaults& defaults, std::string_view key, std::string_view what)
        : m_defaults(defaults), m_key(key), m_what(what) {}

    void markUnreadable() { m_unreadable = true; }
    bool unreadable() const { return m_unreadable; }

    // Whether the key may be written now: true when the value was readable, or once the
    // unreadable one has been kept aside.
    bool readyForWrite();

private:
    UserDefaults& m_defaults;
    std::string m_key;
    std::string m_what;
    bool m_unreadable = false;
};

} // namespace aurelo

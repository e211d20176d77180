#include "models/UnreadableStoredValue.hpp"

#include <glib.h>

namespace aurelo {

bool UnreadableStoredValue::readyForWrite() {
    if (!m_unreadable)
        return true;
    auto preserved = m_defaults.preserveValue(m_key);
    if (!preserved) {
        g_warning("Cannot keep the unreadable %s aside (%s); it is not saved", m_what.c_str(),
                  preserved.error().c_str());
        return false;
    }
    g_warning("The unreadable %s was kept in %s", m_what.c_str(), preserved->c_str());
    m_unreadable = false;
    return true;
}

} // namespace aurelo

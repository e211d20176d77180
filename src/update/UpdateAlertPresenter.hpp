#pragma once

// Keeps the window's update alert in step with the updater. The updater's state moves on while
// an alert is open — "升级已准备完成" can turn into "升级失败" a moment later — and an alert that
// only opens when none is showing would go on announcing success. The window asks this class
// what to do after every change and does exactly that; no rule lives in the widget.

#include "update/UpdateManager.hpp"

#include <optional>

namespace aurelo {

class UpdateAlertPresenter {
public:
    enum class Step {
        None,    // what is shown is current
        Open,    // no alert shows: open one with alert()
        Refresh, // set the open alert's title and message; its buttons stay
        Rebuild, // the buttons changed: replace the open alert with a new one
        Close,   // the updater no longer shows an alert: close it
    };

    // The step that makes the window show `showing`/`alert`, the updater's state now.
    Step next(bool showing, const UpdateAlert& alert);
    // The person closed the alert (by a button or otherwise); nothing shows any more.
    void closed() { m_shown.reset(); }

    const std::optional<UpdateAlert>& shown() const { return m_shown; }

private:
    std::optional<UpdateAlert> m_shown;
};

} // namespace aurelo

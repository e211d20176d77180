#include "update/UpdateAlertPresenter.hpp"

namespace aurelo {

UpdateAlertPresenter::Step UpdateAlertPresenter::next(bool showing, const UpdateAlert& alert) {
    if (!showing) {
        if (!m_shown)
            return Step::None;
        m_shown.reset();
        return Step::Close;
    }
    if (!m_shown) {
        m_shown = alert;
        return Step::Open;
    }
    if (*m_shown == alert)
        return Step::None;
    const Step step = m_shown->buttons == alert.buttons ? Step::Refresh : Step::Rebuild;
    m_shown = alert;
    return step;
}

} // namespace aurelo

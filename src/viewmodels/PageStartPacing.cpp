#include "viewmodels/PageStartPacing.hpp"

#include <algorithm>

namespace aurelo {

std::size_t PageStartPacing::allowance(std::size_t waiting) {
    if (m_state == State::Undecided)
        m_state = waiting > kAtOnce ? State::Pacing : State::Over;
    // The last of them may start now: after them nothing waits.
    if (m_state == State::Pacing && waiting <= m_allowed)
        m_state = State::Over;
    return m_state == State::Over ? waiting : std::min(waiting, m_allowed);
}

void PageStartPacing::built(std::size_t count) {
    if (m_state == State::Pacing)
        m_allowed -= std::min(count, m_allowed);
}

void PageStartPacing::step() {
    if (m_state != State::Pacing)
        return;
    if (++m_steps > kHeadStartSteps)
        m_allowed += kPerStep;
}

} // namespace aurelo

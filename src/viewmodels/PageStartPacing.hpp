#pragma once

// The pace at which hidden pages are built when the application starts with many accounts: the
// page on show first, alone for a moment, then the hidden ones a few at a time, so that thirty
// web processes starting together do not hold back the one the agent is looking at. With few
// accounts every page starts at once, as it always did.

#include <cstddef>

namespace aurelo {

class PageStartPacing {
public:
    // Up to this many hidden pages start together with the page on show.
    static constexpr std::size_t kAtOnce = 6;
    // Past that, the hidden pages wait this many steps, then this many start at each step.
    static constexpr int kHeadStartSteps = 2;
    static constexpr std::size_t kPerStep = 3;

    // How many of `waiting` hidden pages may be built now; the caller builds that many and says
    // so with built(). The first call decides whether the start is paced at all; once the last
    // waiting page is allowed, pacing is over for good and every page is built when wanted.
    std::size_t allowance(std::size_t waiting);
    void built(std::size_t count);
    // A step of the pacing timer passed.
    void step();
    // Whether the timer is still needed.
    bool pacing() const { return m_state == State::Pacing; }

private:
    enum class State { Undecided, Pacing, Over };
    State m_state = State::Undecided;
    int m_steps = 0;
    std::size_t m_allowed = 0;
};

} // namespace aurelo

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kestclock.h"

#include <QElapsedTimer>

#include <memory>

// Stands in for the player's monotonic clock while it exists: real time still passes (courses
// wait on it), and the test steps past a time guard at once with advance(). Held, only advance()
// moves it, so that a test can stay inside a guard however slow the machine is.
class TestClock
{
public:
    TestClock()
    {
        m_state->real.start();
        kestClock::setSource(
            [state = m_state] { return (state->held ? state->heldAt : state->real.elapsed()) + state->offset; });
    }
    ~TestClock() { kestClock::setSource({}); }
    void advance(qint64 msecs) { m_state->offset += msecs; }
    void hold(bool held)
    {
        if (held == m_state->held)
            return;
        if (held)
            m_state->heldAt = m_state->real.elapsed();
        else
            m_state->offset -= m_state->real.elapsed() - m_state->heldAt; // no jump on release
        m_state->held = held;
    }

private:
    struct State
    {
        QElapsedTimer real;
        qint64 offset = 0;
        bool held = false;
        qint64 heldAt = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

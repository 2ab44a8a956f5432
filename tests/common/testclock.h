// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kestclock.h"

#include <QElapsedTimer>

#include <atomic>
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
        kestClock::setSource([state = m_state] {
            return (state->frozen ? state->frozenAt.load() : state->real.elapsed()) + state->offset;
        });
    }
    ~TestClock() { kestClock::setSource({}); }
    void advance(qint64 msecs) { m_state->offset += msecs; }
    // Until thaw(), only advance() moves the clock: two events then fall within or beyond a
    // guard as the test places them, however slowly the machine runs.
    void freeze()
    {
        m_state->frozenAt = m_state->real.elapsed();
        m_state->frozen = true;
    }
    void thaw()
    {
        if (!m_state->frozen)
            return;
        m_state->offset += m_state->frozenAt - m_state->real.elapsed();
        m_state->frozen = false;
    }

private:
    // Atomics: worker threads read the clock while the test moves it.
    struct State
    {
        QElapsedTimer real;
        std::atomic<qint64> offset { 0 };
        std::atomic<qint64> frozenAt { 0 };
        std::atomic<bool> frozen { false };
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

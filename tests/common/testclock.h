// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kestclock.h"

#include <QElapsedTimer>

#include <memory>

// Stands in for the player's monotonic clock while it exists: real time still passes (courses
// wait on it), and the test steps past a time guard at once with advance().
class TestClock
{
public:
    TestClock()
    {
        m_real.start();
        kestClock::setSource([real = m_real, offset = m_offset] { return real.elapsed() + *offset; });
    }
    ~TestClock() { kestClock::setSource({}); }
    void advance(qint64 msecs) { *m_offset += msecs; }

private:
    QElapsedTimer m_real;
    std::shared_ptr<qint64> m_offset = std::make_shared<qint64>(0);
};

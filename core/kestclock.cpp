// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestclock.h"

#include <QElapsedTimer>

namespace kestClock {

namespace {

std::function<qint64()> &source()
{
    static std::function<qint64()> instance;
    return instance;
}

} // namespace

qint64 now()
{
    if (source())
        return source()();
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return clock.elapsed();
}

void setSource(std::function<qint64()> source)
{
    kestClock::source() = std::move(source);
}

} // namespace kestClock

// SPDX-License-Identifier: GPL-3.0-or-later
#include "localwait.h"

#include "kestobject.h"

#include <QEventLoop>
#include <QTimer>

bool kestWaitLocally(QEventLoop &loop, const kestObject *action, const std::function<bool()> &done)
{
    bool stopped = !action->passesSkipTest();
    if (stopped || (done && done()))
        return stopped;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!action->passesSkipTest())
            stopped = true;
        if (stopped || (done && done()))
            loop.quit();
    });
    poll.start();
    loop.exec();
    return stopped || !action->passesSkipTest();
}

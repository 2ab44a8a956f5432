// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// Application-wide event filter. It passes every event on; its signals are where pausing and
// resuming the player would be reported.
class kestEventFilter : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void paused();
    void resume();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override { return QObject::eventFilter(watched, event); }
};

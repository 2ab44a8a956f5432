// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Records every log message (from any thread) while it exists, and passes it on as well.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList messages() const;
    int count(const QString &message) const;
    // Messages starting with prefix, in order.
    QStringList startingWith(const QString &prefix) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    // The capture that records, if any; the lock makes its end wait for a message in flight.
    static LogCapture *s_active;
    static QMutex s_activeLock;
    QtMessageHandler m_previous;
    mutable QMutex m_lock;
    QStringList m_messages;
};

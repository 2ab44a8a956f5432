// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Records every log message (from any thread) while it exists, and passes it on as well. One
// may be made while another exists: both record until the newer one goes, which must go first.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList messages() const;
    // Messages of warning level and above, in order.
    QStringList warnings() const;
    int count(const QString &message) const;
    // Messages starting with prefix, in order.
    QStringList startingWith(const QString &prefix) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void record(QtMsgType type, const QString &message);

    // The newest capture, if any. The lock makes a capture's end wait for a message in flight on
    // another thread.
    static LogCapture *s_active;
    static QMutex s_activeLock;
    LogCapture *m_outer = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_lock;
    QStringList m_messages;
    QStringList m_warnings;
};

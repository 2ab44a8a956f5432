// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcapture.h"

LogCapture *LogCapture::s_active = nullptr;
QMutex LogCapture::s_activeLock;

LogCapture::LogCapture()
{
    m_previous = qInstallMessageHandler(&LogCapture::handler);
    QMutexLocker locker(&s_activeLock);
    s_active = this;
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    // A worker thread may be logging right now: it must be done with this object first.
    QMutexLocker locker(&s_activeLock);
    s_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler previous = nullptr;
    {
        QMutexLocker activeLocker(&s_activeLock);
        if (!s_active)
            return;
        QMutexLocker locker(&s_active->m_lock);
        s_active->m_messages.append(message);
        previous = s_active->m_previous;
    }
    if (previous)
        previous(type, context, message);
}

QStringList LogCapture::messages() const
{
    QMutexLocker locker(&m_lock);
    return m_messages;
}

int LogCapture::count(const QString &message) const
{
    QMutexLocker locker(&m_lock);
    return int(m_messages.count(message));
}

QStringList LogCapture::startingWith(const QString &prefix) const
{
    QMutexLocker locker(&m_lock);
    QStringList found;
    for (const QString &m : m_messages) {
        if (m.startsWith(prefix))
            found << m;
    }
    return found;
}

void LogCapture::clear()
{
    QMutexLocker locker(&m_lock);
    m_messages.clear();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcapture.h"

LogCapture *LogCapture::s_active = nullptr;
QMutex LogCapture::s_activeLock;

LogCapture::LogCapture()
{
    QMutexLocker locker(&s_activeLock);
    m_outer = s_active;
    // Inside another capture, the handler passes messages on to what was there before the outermost.
    const QtMessageHandler previous = qInstallMessageHandler(&LogCapture::handler);
    m_previous = m_outer ? m_outer->m_previous : previous;
    s_active = this;
}

LogCapture::~LogCapture()
{
    QMutexLocker locker(&s_activeLock);
    s_active = m_outer;
    if (!m_outer)
        qInstallMessageHandler(m_previous);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler previous = nullptr;
    {
        QMutexLocker locker(&s_activeLock);
        if (!s_active)
            return;
        previous = s_active->m_previous;
        for (LogCapture *capture = s_active; capture; capture = capture->m_outer)
            capture->record(type, message);
    }
    if (previous)
        previous(type, context, message);
}

void LogCapture::record(QtMsgType type, const QString &message)
{
    QMutexLocker locker(&m_lock);
    m_messages.append(message);
    if (type != QtDebugMsg && type != QtInfoMsg)
        m_warnings.append(message);
}

QStringList LogCapture::messages() const
{
    QMutexLocker locker(&m_lock);
    return m_messages;
}

QStringList LogCapture::warnings() const
{
    QMutexLocker locker(&m_lock);
    return m_warnings;
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
    m_warnings.clear();
}

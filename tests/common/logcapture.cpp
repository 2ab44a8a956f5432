// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcapture.h"

std::atomic<LogCapture *> LogCapture::s_active { nullptr };

LogCapture::LogCapture()
{
    s_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (LogCapture *capture = s_active) {
        {
            QMutexLocker locker(&capture->m_lock);
            capture->m_messages.append(message);
        }
        if (capture->m_previous)
            capture->m_previous(type, context, message);
    }
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

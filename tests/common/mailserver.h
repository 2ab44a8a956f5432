// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "testfiles.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The SMTP server of tests/mail/smtpd.py, run by Debian's interpreter (it has aiosmtpd).
class MailServer
{
public:
    // Accepts AUTH LOGIN of user with password; with tls, offers STARTTLS with a certificate
    // made on the spot (its authority in caFile()).
    MailServer(const QString &user, const QString &password, bool tls = false)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args { QStringLiteral(KEST_SOURCE_DIR "/tests/mail/smtpd.py"), m_dir.path(), user, password };
        if (tls)
            args << QStringLiteral("--tls");
        m_process.start(QStringLiteral("/usr/bin/python3"), args);
        while (m_process.waitForReadyRead(20000) && !m_process.canReadLine()) { }
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith("PORT "))
            m_port = line.mid(5).toInt();
    }
    ~MailServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished();
    }
    int port() const { return m_port; }
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.pem")); }
    // Every address the server accepted in RCPT TO so far.
    QString recipients() const { return QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("rcpt.log")))); }

    // The messages received since the last call, oldest first.
    QList<QJsonObject> takeMessages()
    {
        QList<QJsonObject> messages;
        for (;;) {
            QFile file(path(m_taken + 1));
            if (!file.open(QIODevice::ReadOnly))
                break;
            messages << QJsonDocument::fromJson(file.readAll()).object();
            ++m_taken;
        }
        return messages;
    }

private:
    QString path(int message) const { return m_dir.filePath(QStringLiteral("msg-%1.json").arg(message)); }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    int m_taken = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
// A private Apache httpd on a free loopback port for the delivery tests: its own config, pid file
// and logs in a temporary folder, basic authentication on "/tavelo", stopped when destroyed.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <csignal>
#include <sys/types.h>

class ApacheServer
{
public:
    ~ApacheServer() { stop(); }

    // Serves documentRoot; everything below documentRoot + "/tavelo" wants user:password.
    bool start(const QString &documentRoot, const QString &user, const QString &password)
    {
        if (!m_dir.isValid())
            return false;
        const QString htpasswd = m_dir.filePath(QStringLiteral("htpasswd"));
        if (QProcess::execute(QStringLiteral("htpasswd"), { QStringLiteral("-bc"), htpasswd, user, password }) != 0)
            return false;
        // A free port can be taken by someone else before Apache binds it: try a few.
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_port = freePort();
            writeConfig(QDir(documentRoot).absolutePath(), htpasswd);
            if (QProcess::execute(QStringLiteral("/usr/sbin/apache2"),
                    { QStringLiteral("-f"), configPath(), QStringLiteral("-k"), QStringLiteral("start") })
                    == 0
                && waitUntil([this] { return accepts(); })) {
                m_running = true;
                return true;
            }
            stop(true);
        }
        return false;
    }

    void stop(bool force = false)
    {
        if (!m_running && !force)
            return;
        m_running = false;
        const int status = QProcess::execute(QStringLiteral("/usr/sbin/apache2"),
            { QStringLiteral("-f"), configPath(), QStringLiteral("-k"), QStringLiteral("stop") });
        // "-k stop" reads the config first and gives up when, say, the served folder is gone.
        if (status != 0) {
            QFile pidFile(pidPath());
            if (pidFile.open(QIODevice::ReadOnly)) {
                const pid_t pid = pidFile.readAll().trimmed().toInt();
                if (pid > 0)
                    ::kill(pid, SIGTERM);
            }
        }
        // Apache removes its pid file as its last act.
        waitUntil([this] { return !QFile::exists(pidPath()) && !accepts(); });
    }

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1:") + QString::number(m_port); }
    // Every request so far as "GET /path HTTP/1.1 200", oldest first.
    QStringList requests() const
    {
        QFile log(m_dir.filePath(QStringLiteral("access.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), QString::SkipEmptyParts);
    }
    QString errorLog() const
    {
        QFile log(m_dir.filePath(QStringLiteral("error.log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

private:
    QString configPath() const { return m_dir.filePath(QStringLiteral("httpd.conf")); }
    QString pidPath() const { return m_dir.filePath(QStringLiteral("httpd.pid")); }

    bool accepts() const
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        return socket.waitForConnected(200);
    }

    template <typename Condition> static bool waitUntil(Condition condition)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            if (condition())
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    void writeConfig(const QString &root, const QString &htpasswd)
    {
        QFile file(configPath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        QTextStream out(&file);
        out << "ServerRoot /usr/lib/apache2\n"
            << "Listen 127.0.0.1:" << m_port << "\n"
            << "PidFile " << pidPath() << "\n"
            << "ErrorLog " << m_dir.filePath(QStringLiteral("error.log")) << "\n"
            << "CustomLog " << m_dir.filePath(QStringLiteral("access.log")) << " \"%r %>s\"\n"
            << "TypesConfig /etc/mime.types\nServerName localhost\n";
        for (const char *module :
            { "mpm_event", "authz_core", "authn_core", "authn_file", "authz_user", "auth_basic", "mime" })
            out << "LoadModule " << module << "_module modules/mod_" << module << ".so\n";
        out << "DocumentRoot \"" << root << "\"\n"
            << "<Directory \"" << root << "/tavelo\">\n"
            << "  AuthType Basic\n  AuthName \"courses\"\n  AuthUserFile \"" << htpasswd << "\"\n  Require valid-user\n"
            << "</Directory>\n";
    }

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    bool m_running = false;
};

// SPDX-License-Identifier: GPL-3.0-or-later
// The built player as a new user meets it: a copy of the kestora executable with a kestora.ini
// beside it that names the course server and the probe page, run headless with its own HOME.
#pragma once

#include "testfiles.h"

#include <QProcess>
#include <QtTest>

#include <memory>

#include <signal.h>
#include <sys/resource.h>

class PlayerProcess
{
public:
    // The player's files may not grow beyond bytes (0: no limit); see LimitedProcess.
    void setFileSizeLimit(qint64 bytes) { m_fileSizeLimit = bytes; }

    ~PlayerProcess() { stop(); }

    // Copies the player into folder with a kestora.ini for the course server host.
    static QString install(const QString &folder, const QString &host, const QString &probeHost)
    {
        QDir().mkpath(folder);
        const QString player = folder + QStringLiteral("/kestora");
        QFile::remove(player);
        if (!QFile::copy(QStringLiteral(KEST_PLAYER_EXE), player))
            return QString();
        writeFile(folder + QStringLiteral("/kestora.ini"),
            "[Deployment]\nCourseServerHost=" + host.toUtf8()
                + "\nCatalogueUser=kestor\nCataloguePassword=lesson\nProbeUrl=http://" + probeHost.toUtf8() + "/\n");
        return player;
    }

    bool start(const QString &player, const QString &home)
    {
        stop();
        auto process = std::make_unique<LimitedProcess>();
        process->fileSizeLimit = m_fileSizeLimit;
        m_process = std::move(process);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home);
        for (const char *name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_DOCUMENTS_DIR" })
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("kestora.*.debug=true"));
        m_process->setProcessEnvironment(environment);
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->start(player, QStringList());
        return m_process->waitForStarted();
    }

    void stop()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(10000);
        }
    }

    QProcess *process() const { return m_process.get(); }
    QString output() const { return m_process ? QString::fromLocal8Bit(m_process->readAll()) : QString(); }

private:
    // A full disk without root or a mount: with RLIMIT_FSIZE, and SIGXFSZ ignored, a write past the
    // limit fails (EFBIG) as one on a full disk does (ENOSPC). Set in the child alone, so that
    // neither the test nor its servers are limited.
    class LimitedProcess : public QProcess
    {
    public:
        qint64 fileSizeLimit = 0;

    protected:
        void setupChildProcess() override
        {
            if (fileSizeLimit <= 0)
                return;
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit {};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = rlim_t(fileSizeLimit);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    };

    std::unique_ptr<QProcess> m_process;
    qint64 m_fileSizeLimit = 0;
};

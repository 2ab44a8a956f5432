// SPDX-License-Identifier: GPL-3.0-or-later
#include "deployment.h"

#include "deploymentdefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>

#include <optional>

namespace {
QMutex s_lock;
std::optional<kestDeployment> s_current;
}

kestDeployment kestDeployment::defaults()
{
    kestDeployment d;
    d.courseServerHost = QStringLiteral(KEST_DEFAULT_COURSE_SERVER_HOST);
    d.catalogueUser = QStringLiteral(KEST_DEFAULT_CATALOGUE_USER);
    d.cataloguePassword = QStringLiteral(KEST_DEFAULT_CATALOGUE_PASSWORD);
    d.probeUrl = QStringLiteral(KEST_DEFAULT_PROBE_URL);
    d.smtpServer = QStringLiteral(KEST_DEFAULT_SMTP_SERVER);
    d.smtpAccount = QStringLiteral(KEST_DEFAULT_SMTP_ACCOUNT);
    d.smtpPassword = QStringLiteral(KEST_DEFAULT_SMTP_PASSWORD);
    d.smtpMailbox = QStringLiteral(KEST_DEFAULT_SMTP_MAILBOX);
    d.smtpCaFile = QStringLiteral(KEST_DEFAULT_SMTP_CA_FILE);
    return d;
}

kestDeployment kestDeployment::fromFile(const QString &path, const kestDeployment &base)
{
    kestDeployment d = base;
    if (!QFileInfo::exists(path))
        return d;
    QSettings ini(path, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Deployment"));
    const auto read
        = [&ini](const char *key, QString &field) { field = ini.value(QLatin1String(key), field).toString(); };
    read("CourseServerHost", d.courseServerHost);
    read("CatalogueUser", d.catalogueUser);
    read("CataloguePassword", d.cataloguePassword);
    read("ProbeUrl", d.probeUrl);
    read("SmtpServer", d.smtpServer);
    read("SmtpAccount", d.smtpAccount);
    read("SmtpPassword", d.smtpPassword);
    read("SmtpMailbox", d.smtpMailbox);
    read("SmtpCaFile", d.smtpCaFile);
    d.smtpPort = ini.value(QStringLiteral("SmtpPort"), d.smtpPort).toInt();
    return d;
}

QStringList kestDeployment::searchedFiles()
{
    // The XDG rule: the first folder of XDG_CONFIG_DIRS is the most important one.
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/etc/xdg");
    QStringList files;
    for (const QString &dir : dirs.split(QLatin1Char(':'), QString::SkipEmptyParts))
        files.prepend(QDir(dir).filePath(QStringLiteral("Kestora/kestora.ini")));
    const QString folder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    files.append(QDir(folder).filePath(QStringLiteral("kestora.ini")));
    return files;
}

QString kestDeployment::effectiveProbeUrl() const
{
    if (!probeUrl.isEmpty())
        return probeUrl;
    if (courseServerHost.isEmpty())
        return QString();
    return QStringLiteral("http://%1/").arg(courseServerHost);
}

kestDeployment kestDeployment::current()
{
    QMutexLocker locker(&s_lock);
    if (!s_current) {
        kestDeployment values = defaults();
        for (const QString &file : searchedFiles())
            values = fromFile(file, values);
        s_current = values;
    }
    return *s_current;
}

void kestDeployment::setCurrent(const kestDeployment &values)
{
    QMutexLocker locker(&s_lock);
    s_current = values;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "keststartup.h"

#include "coursecatalogue.h"
#include "courseinstaller.h"
#include "deployment.h"
#include "kestapplication.h"
#include "kestlog.h"
#include "kestora.h"
#include "kestpaths.h"
#include "kestproject.h"
#include "kestselect.h"
#include "variablestore.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

using kestVariables::assignVariable;
using kestVariables::variableValue;

namespace {

void logLine(const QString &line)
{
    qCDebug(lcApp).noquote() << line;
}

// How long start-up waits for the connectivity probe before it counts as offline; a network
// that swallows packets must not freeze the start.
constexpr int ProbeTimeoutMs = 5000;
// How long the window stays up after a start that found no course to run.
constexpr int NoCourseLingerMs = 7500;

} // namespace

kestStartup::kestStartup(Kestora &window, kestApplication &application, kestProject &project)
    : m_window(window)
    , m_application(application)
    , m_project(project)
{ }

kestStartupOutcome kestStartup::run(const QString &coursePath)
{
    prepareUserFolder();
    m_project.loadGlobalSettings();

    kestStartupOutcome outcome;
    if (!coursePath.isEmpty()) {
        if (!openLocalCourse(coursePath)) {
            outcome.action = kestStartupOutcome::Quit;
            outcome.message = tr("No course at %1.").arg(coursePath);
            outcome.lingerMs = NoCourseLingerMs;
        }
        return outcome;
    }

    // The catalogue phase: the server catalogue when online, else the local one.
    m_online = checkConnection();
    logLine(QStringLiteral("Verbindung Hergestellt? ") + (m_online ? QStringLiteral("Ja") : QStringLiteral("Nein")));
    if (m_online || QFile::exists(m_userFolder + QStringLiteral("tavelo.xml"))) {
        const kestDeployment deployment = kestDeployment::current();
        m_installer = new CourseInstaller(m_userFolder, deployment.courseServerHost,
            deployment.catalogueUser + QLatin1Char(':') + deployment.cataloguePassword, &m_window);
        QObject::connect(m_installer, &CourseInstaller::warning, &m_window, &Kestora::warningAusgabe);
        if (!m_installer->readCatalogues(m_online)) {
            // The course server is down or answers with something else: the course installed
            // before is still there to learn with.
            if (!QFile::exists(m_userFolder + QStringLiteral("tavelo.xml"))) {
                outcome.action = kestStartupOutcome::Quit;
                outcome.status = 1;
                outcome.message = tr("The course server cannot be reached and no course is installed yet. Please "
                                     "try again when the network works.");
                outcome.alarm = true;
                qCWarning(lcApp).noquote() << outcome.message;
                return outcome;
            }
            qCWarning(lcApp).noquote() << QStringLiteral("The course server does not answer; starting offline");
            auto *notice = new QMessageBox(QMessageBox::Information, QString(),
                tr("The course server cannot be reached. The courses installed before are used; they are updated "
                   "at a later start."),
                QMessageBox::Ok, &m_window);
            notice->setAttribute(Qt::WA_DeleteOnClose);
            notice->setModal(false);
            notice->show();
            m_online = false;
            m_installer->readCatalogues(false);
        }
        if (!chooseCourse()) {
            outcome.action = kestStartupOutcome::Quit;
            return outcome;
        }
        installCourse();
    }

    rememberChoice();
    logLine(QStringLiteral("Projectpath ist: ") + m_application.projectPath());

    if (!QFile::exists(m_mainProjectFile) && !m_online) {
        outcome.action = kestStartupOutcome::Quit;
        if (kestDeployment::current().effectiveProbeUrl().isEmpty())
            outcome.message = tr("No course server is configured: ask your administrator to set CourseServerHost "
                                 "in /etc/xdg/Kestora/kestora.ini.");
        outcome.lingerMs = NoCourseLingerMs;
    }
    return outcome;
}

void kestStartup::prepareUserFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = documents + QStringLiteral("/Tavelo");
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    m_userFolder = documents + QStringLiteral("/Tavelo/");

    assignVariable(QStringLiteral("USERPATH"), m_userFolder);
    assignVariable(QStringLiteral("INIPATH"), m_userFolder);
    for (const char *name : { "%REPEAT", "%NEXT", "%PREVIOUS", "%RETURN", "%JOYSTICK" })
        assignVariable(QLatin1String(name), QStringLiteral("0"));

    Kestora::installDefaultSettings(kestPaths::settingsFile());
    assignVariable(QStringLiteral("DEVICE"), QStringLiteral("windows"));

    m_courseFolder = QFileInfo::exists(m_userFolder) ? m_userFolder : QString();
    m_mainProjectFile = m_courseFolder + QStringLiteral("tavelo.avx");
    m_application.setProjectPath(m_courseFolder);
}

bool kestStartup::checkConnection()
{
    const QString probeUrl = kestDeployment::current().effectiveProbeUrl();
    if (probeUrl.isEmpty()) {
        // A fresh installation: there is nothing to probe, and no placeholder host is guessed.
        qCWarning(lcApp).noquote() << QStringLiteral(
            "No course server is configured: set CourseServerHost in the [Deployment] group of %1")
                                          .arg(kestDeployment::searchedFiles().join(QStringLiteral(" or ")));
        return false;
    }
    QNetworkAccessManager manager;
    const QNetworkRequest request { QUrl(probeUrl) };
    QNetworkReply *reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(ProbeTimeoutMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const bool online = reply->isFinished() && reply->bytesAvailable() > 0;
    reply->abort();
    delete reply; // before the manager that made it
    return online;
}

bool kestStartup::openLocalCourse(const QString &path)
{
    const QFileInfo given(path);
    QString folder = given.isDir() ? given.absoluteFilePath() : given.absolutePath();
    const QString document = given.isDir() ? QStringLiteral("tavelo.avx") : given.fileName();
    if (!QFileInfo(QDir(folder).filePath(document)).isFile()) {
        qCWarning(lcApp).noquote() << QStringLiteral("No course document at %1").arg(QDir(folder).filePath(document));
        return false;
    }
    // The course writes the learner's recordings and files into its folder: a course that cannot
    // be written to (an installed one) runs from a copy in the user folder, whose learner files
    // are never overwritten.
    if (!QFileInfo(folder).isWritable()) {
        const QString target = m_userFolder + QFileInfo(folder).fileName();
        QString failed;
        if (!kestCopyFolder(folder, target, true, &failed)) {
            qCWarning(lcApp).noquote() << QStringLiteral("Cannot copy the course to %1").arg(failed);
            return false;
        }
        folder = target;
    }
    setCourseFolder(folder + QLatin1Char('/'));
    m_mainProjectFile = m_courseFolder + document;
    logLine(QStringLiteral("Projectpath ist: ") + m_courseFolder);
    return true;
}

bool kestStartup::chooseCourse()
{
    KestSelect dialog;
    const QString remembered = variableValue(QStringLiteral("defaultLoadCourse"));
    // A remembered path without a folder would make "/" the course folder and USERPATH: such a
    // course counts as not remembered.
    const bool pathKnown = variableValue(QStringLiteral("defaultLoadCoursePath")).contains(QLatin1Char('/'));
    const bool ask = remembered.contains(QLatin1String("###start###"))
        || remembered.contains(QLatin1String("###debug###")) || remembered.isEmpty() || !pathKnown;
    if (ask) {
        dialog.showMaximized();
        dialog.exec();
        m_languageCode = dialog.selectedCode();
        m_courseTitle = kestCatalogue::titleForCode(m_languageCode);
        logLine(QStringLiteral("selectedCourseName: ") + m_courseTitle);
        if (m_courseTitle == QLatin1String("Quit")) {
            logLine(QStringLiteral("Quit"));
            return false;
        }
        return true;
    }
    m_courseTitle = remembered;
    m_mainProjectFile = variableValue(QStringLiteral("defaultLoadCoursePath"));
    // The remembered course's files live in its own folder, not in the user folder.
    setCourseFolder(m_mainProjectFile.left(m_mainProjectFile.lastIndexOf(QLatin1Char('/'))) + QLatin1Char('/'));
    logLine(QStringLiteral("selectedCourseName: ") + m_courseTitle);
    m_languageCode = kestCatalogue::codeForTitle(m_courseTitle);
    return true;
}

void kestStartup::installCourse()
{
    KestProgress *progress = m_window.progressWindow();
    progress->setLanguage(m_languageCode);
    progress->show();
    // The window keeps its start-up for as long as it keeps the installer.
    QObject::connect(m_installer, &CourseInstaller::courseFolderChosen, &m_window,
        [this](const QString &folder) { setCourseFolder(folder); });
    m_installer->installAndMerge(m_courseTitle, progress);
    // The installer knows whether a file failed; its warning's wording is for the learner.
    m_downloadError = m_installer->downloadError();
    if (!m_installer->mainProjectFile().isEmpty())
        m_mainProjectFile = m_installer->mainProjectFile();
    if (!m_installer->variablesFilePath().isEmpty())
        m_variablesFilePath = m_installer->variablesFilePath();
    progress->hide();
}

void kestStartup::rememberChoice()
{
    if (!variableValue(QStringLiteral("defaultLoadCourse")).contains(QLatin1String("###start###")))
        return;
    QSettings settings(kestPaths::settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("User/defaultLoadCourse"), m_courseTitle);
    settings.setValue(QStringLiteral("User/defaultLoadCoursePath"), m_mainProjectFile);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qCWarning(lcApp).noquote() << QStringLiteral("Cannot write the settings file ") + settings.fileName();
}

void kestStartup::setCourseFolder(const QString &folder)
{
    m_courseFolder = folder;
    assignVariable(QStringLiteral("USERPATH"), m_courseFolder);
    m_application.setProjectPath(m_courseFolder);
}

bool kestCopyFolder(const QString &from, const QString &to, bool keepExisting, QString *failedCopy)
{
    QDirIterator files(from, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString copy = QDir(to).filePath(QDir(from).relativeFilePath(source));
        if (QFileInfo::exists(copy)) {
            if (keepExisting)
                continue;
            QFile::remove(copy);
        }
        if (!QDir().mkpath(QFileInfo(copy).absolutePath()) || !QFile::copy(source, copy)) {
            if (failedCopy)
                *failedCopy = copy;
            return false;
        }
        QFile(copy).setPermissions(QFile(copy).permissions() | QFileDevice::WriteOwner);
    }
    return true;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestora.h"

#include "coursecatalogue.h"
#include "courseinstaller.h"
#include "deployment.h"
#include "kestapplication.h"
#include "kestclock.h"
#include "kestcommandrouter.h"
#include "kesteventfilter.h"
#include "kestlog.h"
#include "kestpaths.h"
#include "kestproject.h"
#include "kestselect.h"
#include "kestthread.h"
#include "speech.h"
#include "ui_kestora.h"
#include "variablestore.h"
#include "webview.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QQuickView>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

#include <cstdlib>

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
// How long the message that ends a start without any course stays up.
constexpr int CatalogueMessageMs = 10000;

} // namespace

Kestora::Kestora(QApplication *application, QWidget *parent, Qt::WindowFlags flags, const QString &coursePath)
    : QMainWindow(parent, flags)
    , m_application(application)
    , m_ui(new Ui::KestoraClass)
{
    logLine(QStringLiteral("Started the Application!1"));
    logLine(QStringLiteral("Started the Application!2"));

    m_kestApp = std::make_unique<kestApplication>();
    m_project = new kestProject(this);
    auto *router = new kestCommandRouter(m_kestApp.get(), m_project);
    // Mail goes out in the background: its warning must not hold up the scene either.
    connect(router, &kestCommandRouter::mailWarning, this, [](const QString &text) {
        auto *box = new QMessageBox(QMessageBox::Warning, tr("Qt Simple SMTP client"), text, QMessageBox::Ok);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    });
    m_kestApp->setMainWindow(this);
    logLine(QStringLiteral("Started the Application!3"));

    m_lastBackPress = kestClock::now();
    m_touching = false;
    m_ui->setupUi(this);

    prepareUserFolder();
    m_project->loadGlobalSettings();

    if (!coursePath.isEmpty()) {
        if (openLocalCourse(coursePath)) {
            startCourse();
        } else {
            m_ui->label->setText(m_ui->label->text() + QLatin1Char('\n') + tr("No course at %1.").arg(coursePath));
            QTimer::singleShot(7500, this, [application] { application->quit(); });
        }
        return;
    }

    // The catalogue phase: the server catalogue when online, else the local one.
    m_online = checkConnection();
    logLine(QStringLiteral("Verbindung Hergestellt? ") + (m_online ? QStringLiteral("Ja") : QStringLiteral("Nein")));
    if (m_online || QFile::exists(m_userFolder + QStringLiteral("tavelo.xml"))) {
        const kestDeployment deployment = kestDeployment::current();
        m_installer = new CourseInstaller(m_userFolder, deployment.courseServerHost,
            deployment.catalogueUser + QLatin1Char(':') + deployment.cataloguePassword, this);
        connect(m_installer, &CourseInstaller::warning, this, &Kestora::warningAusgabe);
        if (!m_installer->readCatalogues(m_online)) {
            // The course server is down or answers with something else: the course installed
            // before is still there to learn with.
            if (!QFile::exists(m_userFolder + QStringLiteral("tavelo.xml")))
                quitAfterCatalogueFailure();
            qCWarning(lcApp).noquote() << QStringLiteral("The course server does not answer; starting offline");
            auto *notice = new QMessageBox(QMessageBox::Information, QString(),
                tr("The course server cannot be reached. The courses installed before are used; they are updated "
                   "at a later start."),
                QMessageBox::Ok, this);
            notice->setAttribute(Qt::WA_DeleteOnClose);
            notice->setModal(false);
            notice->show();
            m_online = false;
            m_installer->readCatalogues(false);
        }
        chooseCourse();
        installCourse();
    }

    rememberChoice();
    logLine(QStringLiteral("Projectpath ist: ") + m_kestApp->projectPath());

    if (QFile::exists(m_mainProjectFile) || m_online)
        startCourse();
    else {
        if (kestDeployment::current().effectiveProbeUrl().isEmpty())
            m_ui->label->setText(m_ui->label->text() + QLatin1Char('\n')
                + tr("No course server is configured: ask your administrator to set CourseServerHost in "
                     "/etc/xdg/Kestora/kestora.ini."));
        QTimer::singleShot(7500, this, [application] { application->quit(); });
    }
}

Kestora::~Kestora()
{
    // No script may outlive the objects it reaches through the application object.
    emit m_kestApp->exitAll();
    kestThread::shutdownAll(10000);
    if (m_eventFilter)
        m_application->removeEventFilter(m_eventFilter.get());
    // The project's scenes reach the application object until they are gone.
    delete m_project;
    m_project = nullptr;
}

KestProgress *Kestora::progressWindow()
{
    if (!m_progress)
        m_progress = std::make_unique<KestProgress>();
    return m_progress.get();
}

void Kestora::prepareUserFolder()
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

    installDefaultSettings(kestPaths::settingsFile());
    assignVariable(QStringLiteral("DEVICE"), QStringLiteral("windows"));

    m_courseFolder = QFileInfo::exists(m_userFolder) ? m_userFolder : QString();
    m_mainProjectFile = m_courseFolder + QStringLiteral("tavelo.avx");
    m_kestApp->setProjectPath(m_courseFolder);
}

bool Kestora::installDefaultSettings(const QString &target)
{
    Q_INIT_RESOURCE(app);
    QFile defaults(QStringLiteral("://Resources/tavelo.ini"));
    if (!defaults.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // The learner's settings are never overwritten, even when keys are missing.
    if (QFileInfo::exists(target))
        return false;
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcApp).noquote()
            << QStringLiteral("Cannot write the settings file %1: %2").arg(target, file.errorString());
        return false;
    }
    QTextStream in(&defaults);
    QTextStream out(&file);
    while (!in.atEnd()) {
        QString word;
        in >> word;
        if (!word.isEmpty())
            out << word << '\n';
    }
    return true;
}

bool Kestora::checkConnection()
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
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(ProbeTimeoutMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const bool online = reply->isFinished() && reply->bytesAvailable() > 0;
    reply->abort();
    delete reply; // before the manager that made it
    return online;
}

bool Kestora::openLocalCourse(const QString &path)
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
        QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString source = files.next();
            const QString to = QDir(target).filePath(QDir(folder).relativeFilePath(source));
            if (QFileInfo::exists(to))
                continue;
            if (!QDir().mkpath(QFileInfo(to).absolutePath()) || !QFile::copy(source, to)) {
                qCWarning(lcApp).noquote() << QStringLiteral("Cannot copy the course to %1").arg(to);
                return false;
            }
            QFile(to).setPermissions(QFile(to).permissions() | QFileDevice::WriteOwner);
        }
        folder = target;
    }
    m_courseFolder = folder + QLatin1Char('/');
    m_mainProjectFile = m_courseFolder + document;
    assignVariable(QStringLiteral("USERPATH"), m_courseFolder);
    m_kestApp->setProjectPath(m_courseFolder);
    logLine(QStringLiteral("Projectpath ist: ") + m_courseFolder);
    return true;
}

void Kestora::chooseCourse()
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
            std::exit(0);
        }
        return;
    }
    m_courseTitle = remembered;
    m_mainProjectFile = variableValue(QStringLiteral("defaultLoadCoursePath"));
    m_courseFolder = m_mainProjectFile.left(m_mainProjectFile.lastIndexOf(QLatin1Char('/'))) + QLatin1Char('/');
    // The remembered course's files live in its own folder, not in the user folder.
    assignVariable(QStringLiteral("USERPATH"), m_courseFolder);
    m_kestApp->setProjectPath(m_courseFolder);
    logLine(QStringLiteral("selectedCourseName: ") + m_courseTitle);
    m_languageCode = kestCatalogue::codeForTitle(m_courseTitle);
}

void Kestora::installCourse()
{
    progressWindow()->setLanguage(m_languageCode);
    progressWindow()->show();
    connect(m_installer, &CourseInstaller::courseFolderChosen, this, [this](const QString &folder) {
        m_courseFolder = folder;
        assignVariable(QStringLiteral("USERPATH"), m_courseFolder);
        m_kestApp->setProjectPath(m_courseFolder);
    });
    m_installer->installAndMerge(m_courseTitle, progressWindow());
    // The installer knows whether a file failed; its warning's wording is for the learner.
    m_downloadError = m_installer->downloadError();
    if (!m_installer->mainProjectFile().isEmpty())
        m_mainProjectFile = m_installer->mainProjectFile();
    if (!m_installer->variablesFilePath().isEmpty())
        m_variablesFilePath = m_installer->variablesFilePath();
    progressWindow()->hide();
}

void Kestora::quitAfterCatalogueFailure()
{
    const QString why = tr("The course server cannot be reached and no course is installed yet. Please try "
                           "again when the network works.");
    qCWarning(lcApp).noquote() << why;
    // The learner reads why; the start ends in any case, also when nobody is there to close it.
    QMessageBox box(QMessageBox::Critical, QString(), why, QMessageBox::Ok);
    QTimer::singleShot(CatalogueMessageMs, &box, &QMessageBox::accept);
    box.exec();
    QApplication::closeAllWindows();
    close();
    m_application->quit();
    std::exit(1);
}

void Kestora::rememberChoice()
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

void Kestora::startCourse()
{
    if (m_project->loadProject(m_mainProjectFile))
        m_ui->label->hide();
    // The scene is made by the first load that succeeds, maybe a later project change.
    watchSceneKeys();
    connect(m_kestApp.get(), &kestApplication::projectLoaded, this, &Kestora::watchSceneKeys);
    logLine(QStringLiteral("Successfully loaded First xml!"));
    m_project->loadExternVariables(m_kestApp->projectPath() + QStringLiteral("variables_win.txt"));
    m_project->setDataFolder(m_courseFolder);

    QWidget *central = centralWidget();
    central->setAttribute(Qt::WA_AcceptTouchEvents);
    central->setWindowTitle(QString());
    central->setMouseTracking(true);
    setMouseTracking(true);
    central->installEventFilter(this);

    m_eventFilter = std::make_unique<kestEventFilter>();
    m_application->installEventFilter(m_eventFilter.get());
    connect(m_eventFilter.get(), &kestEventFilter::paused, this, &Kestora::deactivateApp);
    connect(m_eventFilter.get(), &kestEventFilter::resume, this, &Kestora::activateApp);

    setWindowTitle(QStringLiteral("Tavelo"));
    repaint();
}

void Kestora::deactivateApp()
{
    if (!m_paused)
        m_paused = true;
}

void Kestora::activateApp()
{
    if (m_paused)
        m_paused = false;
}

void Kestora::warningAusgabe(QString text)
{
    logLine(QStringLiteral("Warning ausgabe: ") + text);
    QMessageBox::warning(nullptr, QString(), QStringLiteral("Ausgabe: ") + text, QMessageBox::Ok);
}

bool Kestora::event(QEvent *event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Back) {
        backPressed();
        return true;
    }
    return QMainWindow::event(event);
}

void Kestora::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_project && m_project->webView())
        m_project->webView()->fitToHost();
}

void Kestora::backPressed()
{
    const qint64 now = kestClock::now();
    if (now - m_lastBackPress < 2000)
        m_application->quit();
    m_lastBackPress = now;
    m_project->runScriptSlot(m_project->currentIndex() != 0 ? 4 : 7);
}

void Kestora::watchSceneKeys()
{
    WebView *bridge = m_project->webView();
    if (!bridge)
        return;
    bridge->quickView()->installEventFilter(this);
    connect(bridge, &WebView::announce, this, &Kestora::announce, Qt::UniqueConnection);
    connect(bridge, &WebView::stopReadingRequested, m_kestApp.get(), &kestApplication::kestEndTextToSpeech,
        Qt::UniqueConnection);
    m_selfVoicing = QSettings(kestPaths::settingsFile(), QSettings::IniFormat)
                        .value(QStringLiteral("User/selfVoicing"), false)
                        .toBool();
}

void Kestora::toggleSelfVoicing()
{
    m_selfVoicing = !m_selfVoicing;
    logLine(QStringLiteral("Self-voicing: ") + (m_selfVoicing ? QStringLiteral("on") : QStringLiteral("off")));
    QSettings settings(kestPaths::settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("User/selfVoicing"), m_selfVoicing);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qCWarning(lcApp).noquote() << QStringLiteral("Cannot write the settings file ") + settings.fileName();
    if (kestSpeech *speech = kestSpeech::instance())
        speech->say(m_selfVoicing ? QStringLiteral("Self-voicing on") : QStringLiteral("Self-voicing off"));
}

void Kestora::announce(const QString &text)
{
    if (!m_selfVoicing || text.trimmed().isEmpty())
        return;
    logLine(QStringLiteral("Self-voicing says: ") + text);
    if (kestSpeech *speech = kestSpeech::instance())
        speech->say(text);
}

bool Kestora::eventFilter(QObject *watched, QEvent *event)
{
    WebView *bridge = m_project ? m_project->webView() : nullptr;
    // Once the learner touched the scene, its window has the keyboard focus: keys arrive there.
    if (bridge && watched == bridge->quickView()) {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Back) {
            backPressed();
            return true;
        }
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_F2) {
            toggleSelfVoicing();
            return true;
        }
        return false;
    }
    switch (event->type()) {
    case QEvent::TouchBegin:
        m_touching = true;
        if (bridge)
            bridge->sendTouch(static_cast<QTouchEvent *>(event), true);
        logLine(QStringLiteral("Touch"));
        return true;
    case QEvent::TouchUpdate:
        if (m_touching && bridge)
            bridge->sendTouchMove(static_cast<QTouchEvent *>(event));
        return true;
    case QEvent::TouchEnd:
        m_touching = false;
        if (bridge)
            bridge->sendTouch(static_cast<QTouchEvent *>(event), false);
        return true;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

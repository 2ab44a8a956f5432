// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestora.h"

#include "kestapplication.h"
#include "kestclock.h"
#include "kestcommandrouter.h"
#include "kesteventfilter.h"
#include "kestlog.h"
#include "kestpaths.h"
#include "kestproject.h"
#include "keststartup.h"
#include "kestthread.h"
#include "speech.h"
#include "ui_kestora.h"
#include "webview.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QQuickView>
#include <QSettings>
#include <QTextStream>
#include <QTimer>

namespace {

void logLine(const QString &line)
{
    qCDebug(lcApp).noquote() << line;
}

// How long the message that ends a failed start stays up.
constexpr int FailureMessageMs = 10000;

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

    m_startup = std::make_unique<kestStartup>(*this, *m_kestApp, *m_project);
    const kestStartupOutcome outcome = m_startup->run(coursePath);
    if (outcome.action == kestStartupOutcome::RunCourse)
        startCourse();
    else
        showOutcome(outcome);
}

void Kestora::showOutcome(const kestStartupOutcome &outcome)
{
    m_exitStatus = outcome.status;
    if (outcome.alarm) {
        // The learner reads why; the start ends in any case, also when nobody is there to close it.
        QMessageBox box(QMessageBox::Critical, QString(), outcome.message, QMessageBox::Ok);
        QTimer::singleShot(FailureMessageMs, &box, &QMessageBox::accept);
        box.exec();
    } else if (!outcome.message.isEmpty()) {
        m_ui->label->setText(m_ui->label->text() + QLatin1Char('\n') + outcome.message);
    }
    if (outcome.lingerMs == 0)
        m_quitsAtOnce = true;
    // A caller that runs the event loop anyway sees the same status.
    const int status = outcome.status;
    QTimer::singleShot(outcome.lingerMs, this, [status] { QCoreApplication::exit(status); });
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

bool Kestora::isOnline() const
{
    return m_startup->isOnline();
}

bool Kestora::downloadError() const
{
    return m_startup->downloadError();
}

QString Kestora::userFolder() const
{
    return m_startup->userFolder();
}

QString Kestora::courseFolder() const
{
    return m_startup->courseFolder();
}

QString Kestora::mainProjectFile() const
{
    return m_startup->mainProjectFile();
}

QString Kestora::courseTitle() const
{
    return m_startup->courseTitle();
}

QString Kestora::languageCode() const
{
    return m_startup->languageCode();
}

KestProgress *Kestora::progressWindow()
{
    if (!m_progress)
        m_progress = std::make_unique<KestProgress>();
    return m_progress.get();
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

void Kestora::startCourse()
{
    if (m_project->loadProject(m_startup->mainProjectFile()))
        m_ui->label->hide();
    // The scene is made by the first load that succeeds, maybe a later project change.
    watchSceneKeys();
    connect(m_kestApp.get(), &kestApplication::projectLoaded, this, &Kestora::watchSceneKeys);
    logLine(QStringLiteral("Successfully loaded First xml!"));
    m_project->loadExternVariables(m_kestApp->projectPath() + QStringLiteral("variables_win.txt"));
    m_project->setDataFolder(m_startup->courseFolder());

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

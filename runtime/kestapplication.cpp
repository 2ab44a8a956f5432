// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"

#include "kestlog.h"
#include "kestproject.h"
#include "kestsubproject.h"
#include "prio.h"
#include "webview.h"

#include <QDateTime>
#include <QHash>
#include <QThread>

namespace {

// Router entries that hand the payload to the scene bridge or the project unchanged.
template<void (WebView::*Operation)(const QString &)>
void toBridge(kestApplication *app, const QString &payload)
{
    if (WebView *bridge = app->sceneBridge())
        (bridge->*Operation)(payload);
}

template<void (kestProject::*Operation)(const QString &)>
void toProject(kestApplication *app, const QString &payload)
{
    if (kestProject *project = app->project())
        (project->*Operation)(payload);
}

} // namespace

std::atomic<kestApplication *> kestApplication::s_instance { nullptr };

kestApplication::kestApplication(QObject *parent)
    : QObject(parent)
    , m_startTime(double(QDateTime::currentMSecsSinceEpoch()))
{
    qRegisterMetaType<Prio>("Prio");
    kestApplication *expected = nullptr;
    s_instance.compare_exchange_strong(expected, this);
}

kestApplication::~kestApplication()
{
    kestApplication *expected = this;
    s_instance.compare_exchange_strong(expected, nullptr);
}

kestApplication *kestApplication::instance()
{
    return s_instance.load();
}

QString kestApplication::projectPath() const
{
    QReadLocker locker(&m_pathLock);
    return m_projectPath;
}

void kestApplication::setProjectPath(const QString &path)
{
    QWriteLocker locker(&m_pathLock);
    m_projectPath = path;
}

void kestApplication::setProcedureSource(ProcedureSource source)
{
    QWriteLocker locker(&m_procedureLock);
    m_procedureSource = std::move(source);
}

kestObject *kestApplication::procedureTree(const QString &name) const
{
    QReadLocker locker(&m_procedureLock);
    return m_procedureSource ? m_procedureSource(name) : nullptr;
}

QString kestApplication::joinPath(const QString &folder, const QString &file)
{
    QString left = folder.trimmed().replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString right = file.trimmed().replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool leftSlash = left.endsWith(QLatin1Char('/'));
    const bool rightSlash = right.startsWith(QLatin1Char('/'));
    if (leftSlash && rightSlash)
        left.chop(1);
    else if (!leftSlash && !rightSlash)
        left += QLatin1Char('/');
    return left + right;
}

void kestApplication::kestHandleEvent(const QString &command, const QString &payload)
{
    // The sound actions call in directly from their worker threads; the project and the scene
    // belong to the GUI thread, so the command goes there, behind those sent before it.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, command, payload] { kestHandleEvent(command, payload); }, Qt::QueuedConnection);
        return;
    }

    using Handler = void (*)(kestApplication *, const QString &);
    static const QHash<QString, Handler> table = {
        { QStringLiteral("gotoSubProject"), &toProject<&kestProject::gotoSubProject> },
        { QStringLiteral("moveEntity"), &toBridge<&WebView::moveEntity> },
        { QStringLiteral("changeEntity"), [](kestApplication *app, const QString &a) { app->routeChangeEntity(a); } },
        { QStringLiteral("ChangeProject"), [](kestApplication *app, const QString &a) { app->routeChangeProject(a); } },
        { QStringLiteral("Exit"), [](kestApplication *app, const QString &) { emit app->exitAll(); } },
        { QStringLiteral("callProcedure"), [](kestApplication *app, const QString &a) { app->routeCallProcedure(a); } },
        { QStringLiteral("wglanimate"), &toBridge<&WebView::animate> },
        { QStringLiteral("wglstartpause"), [](kestApplication *, const QString &) {} },
        { QStringLiteral("wglendpause"), [](kestApplication *, const QString &) {} },
        { QStringLiteral("playvideo"), &toBridge<&WebView::playVideo> },
        { QStringLiteral("playaudio"), &toBridge<&WebView::playAudio> },
        { QStringLiteral("stopMedia"),
          [](kestApplication *app, const QString &) {
              if (WebView *bridge = app->sceneBridge())
                  bridge->stopMedia();
          } },
        { QStringLiteral("stopSpecificMedia"), &toBridge<&WebView::stopSpecificMedia> },
        { QStringLiteral("pngAnimate"), &toBridge<&WebView::pngAnimate> },
        { QStringLiteral("stopPNGAnimation"), &toBridge<&WebView::stopPngAnimation> },
        { QStringLiteral("shufflePosition"), &toBridge<&WebView::shufflePosition> },
        { QStringLiteral("changeBackgroundColor"), &toBridge<&WebView::setClearColor> },
        { QStringLiteral("createBubble"), &toBridge<&WebView::createBubble> },
        { QStringLiteral("activateimageborder"), &toBridge<&WebView::activateImageBorder> },
        { QStringLiteral("createTextEntity"), [](kestApplication *, const QString &) {} },
        { QStringLiteral("showTextfile"), &toBridge<&WebView::showTextfile> },
        { QStringLiteral("ignoreUserinput"), &toBridge<&WebView::ignoreUserinput> },
        { QStringLiteral("videoplayer"), &toBridge<&WebView::createVideoPlayer> },
        { QStringLiteral("videoplayeraction"), &toBridge<&WebView::videoPlayerAction> },
        { QStringLiteral("restoreEntityPos"), &toBridge<&WebView::restoreEntityPos> },
    };
    const auto handler = table.constFind(command);
    if (handler != table.constEnd())
        (*handler)(this, payload);
}

kestProject *kestApplication::project() const
{
    return m_project;
}

void kestApplication::setProject(kestProject *project)
{
    m_project = project;
}

WebView *kestApplication::sceneBridge() const
{
    return m_project ? m_project->webView() : nullptr;
}

void kestApplication::routeChangeProject(const QString &path)
{
    qCDebug(lcRuntime).noquote() << QStringLiteral("Change Project! ") + path + QStringLiteral(" And stop all");
    emit stopAll();
    emit stopRecord();
    if (m_project)
        m_project->loadProject(path);
    emit projectLoaded();
}

void kestApplication::routeChangeEntity(const QString &payload)
{
    if (!m_project)
        return;
    const QStringList fields = payload.split(QStringLiteral(";_;"));
    if (fields.size() >= 3 && fields.at(1).toLower() == QLatin1String("stateactive")) {
        if (kestSubProject *sub = m_project->currentSubProject())
            sub->setEntityActive(fields.at(0), fields.at(2), true);
    }
    if (WebView *bridge = sceneBridge())
        bridge->changeEntity(payload);
}

void kestApplication::routeCallProcedure(const QString &name)
{
    if (!m_project || !m_project->callProcedure(name))
        return;
    m_calledProcedures.append(name);
    if (WebView *bridge = sceneBridge()) {
        connect(this, &kestApplication::procedureFinished, bridge, &WebView::procedureFinished, Qt::UniqueConnection);
        bridge->setAwaitedProcedure(name);
    }
}

void kestApplication::kestReadText(QString text)
{
    emit readText(text);
}

void kestApplication::kestEndTextToSpeech()
{
    qCDebug(lcRuntime).noquote() << QStringLiteral("kestEndTextToSpeech");
    emit stopTTS();
}

void kestApplication::kestEndOfTextToSpeech()
{
    qCDebug(lcRuntime).noquote() << QStringLiteral("kestEndOfTextToSpeech()! emit endOfTTS and ttsFinished!");
    emit endOfTTS();
    emit ttsFinished();
}

void kestApplication::kestAusgabe(QString text)
{
    emit ausgabe(text);
}

void kestApplication::kestTtsFinished()
{
    emit ttsFinished();
}

void kestApplication::kestProcedureFinished(QString name)
{
    emit procedureFinished(name);
}

void kestApplication::kestLoadFinished()
{
    if (m_project)
        disconnect(m_project, &kestProject::loadFinished, this, &kestApplication::kestLoadFinished);
    emit loadFinished();
}

void kestApplication::kestProcBreak()
{
    const QStringList names = std::exchange(m_calledProcedures, {});
    for (const QString &name : names)
        emit procedureFinished(name);
}

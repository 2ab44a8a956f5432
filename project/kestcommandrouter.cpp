// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestcommandrouter.h"

#include "deployment.h"
#include "kestapplication.h"
#include "kestcommands.h"
#include "kestlog.h"
#include "kestproject.h"
#include "kestsubproject.h"
#include "kestthread.h"
#include "smtp.h"
#include "variablestore.h"
#include "webview.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

using Handler = void (*)(kestCommandRouter *, const QString &);

// Rows that hand the payload to the scene bridge or the project unchanged.
template <void (WebView::*Operation)(const QString &)> void toBridge(kestCommandRouter *router, const QString &payload)
{
    if (WebView *bridge = router->sceneBridge())
        (bridge->*Operation)(payload);
}

template <void (kestProject::*Operation)(const QString &)>
void toProject(kestCommandRouter *router, const QString &payload)
{
    if (kestProject *project = router->project())
        (project->*Operation)(payload);
}

void nothing(kestCommandRouter *, const QString &) { }

QString realPath(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

enum class Attachment { None, Inside, Outside };

// A course may attach only what lies in the user folder (its courses and the learner's
// recordings), never a document of the learner's elsewhere. An empty name resolves to the user
// folder itself: no attachment.
Attachment attachmentPlace(const QString &path)
{
    if (path.trimmed().isEmpty())
        return Attachment::None;
    QString folder = kestVariables::variableValue(QStringLiteral("USERPATH"));
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (folder.trimmed().isEmpty())
        return Attachment::Outside;
    folder = realPath(folder);
    const QString file = realPath(path);
    if (file == folder)
        return Attachment::None;
    return file.startsWith(folder + QLatin1Char('/')) ? Attachment::Inside : Attachment::Outside;
}

} // namespace

// Friends of the router's private rows, reachable from the table below.
struct kestCommandRows
{
    static void changeEntity(kestCommandRouter *r, const QString &a) { r->changeEntity(a); }
    static void callProcedure(kestCommandRouter *r, const QString &a) { r->callProcedure(a); }
    static void changeProject(kestCommandRouter *r, const QString &a) { r->changeProject(a); }
    static void sendMail(kestCommandRouter *r, const QString &a) { r->sendMail(a); }
    static void exit(kestCommandRouter *r, const QString &)
    {
        if (r->m_app)
            emit r->m_app->exitAll();
    }
    static void stopMedia(kestCommandRouter *r, const QString &)
    {
        if (WebView *bridge = r->sceneBridge())
            bridge->stopMedia();
    }

    static const QHash<QString, Handler> &table()
    {
        using namespace kestCommand;
        static const QHash<QString, Handler> rows = {
            { GotoSubProject, &toProject<&kestProject::gotoSubProject> },
            { MoveEntity, &toBridge<&WebView::moveEntity> },
            { ChangeEntity, &changeEntity },
            { SendMail, &sendMail },
            { ChangeProject, &changeProject },
            { Exit, &exit },
            { CallProcedure, &callProcedure },
            { WglAnimate, &toBridge<&WebView::animate> },
            { WglStartPause, &nothing },
            { WglEndPause, &nothing },
            { PlayVideo, &toBridge<&WebView::playVideo> },
            { PlayAudio, &toBridge<&WebView::playAudio> },
            { StopMedia, &stopMedia },
            { StopSpecificMedia, &toBridge<&WebView::stopSpecificMedia> },
            { PngAnimate, &toBridge<&WebView::pngAnimate> },
            { StopPngAnimation, &toBridge<&WebView::stopPngAnimation> },
            { ShufflePosition, &toBridge<&WebView::shufflePosition> },
            { ChangeBackgroundColor, &toBridge<&WebView::setClearColor> },
            { CreateBubble, &toBridge<&WebView::createBubble> },
            { ActivateImageBorder, &toBridge<&WebView::activateImageBorder> },
            { CreateTextEntity, &nothing },
            { ShowTextfile, &toBridge<&WebView::showTextfile> },
            { IgnoreUserinput, &toBridge<&WebView::ignoreUserinput> },
            { VideoPlayer, &toBridge<&WebView::createVideoPlayer> },
            { VideoPlayerAction, &toBridge<&WebView::videoPlayerAction> },
            { RestoreEntityPos, &toBridge<&WebView::restoreEntityPos> },
            // Sent by a scene action whose scene feature the player does not have.
            { CreateWebkit, &nothing },
        };
        return rows;
    }
};

kestCommandRouter::kestCommandRouter(kestApplication *app, kestProject *project)
    : QObject(project)
    , m_app(app)
    , m_project(project)
{
    if (m_app)
        m_app->setCommandHandler([this](const QString &command, const QString &payload) { route(command, payload); });
}

kestCommandRouter::~kestCommandRouter()
{
    if (m_app)
        m_app->setCommandHandler(nullptr);
}

bool kestCommandRouter::hasRoute(const QString &command)
{
    return kestCommandRows::table().contains(command);
}

void kestCommandRouter::route(const QString &command, const QString &payload)
{
    const auto &table = kestCommandRows::table();
    const auto row = table.constFind(command);
    if (row != table.constEnd())
        (*row)(this, payload);
}

WebView *kestCommandRouter::sceneBridge() const
{
    return m_project ? m_project->webView() : nullptr;
}

void kestCommandRouter::changeProject(const QString &path)
{
    qCDebug(lcRuntime).noquote() << QStringLiteral("Change Project! ") + path + QStringLiteral(" And stop all");
    // Every script of the old course ends, procedures running alongside included; a LoadFile
    // that asked for the change keeps itself alive.
    kestThread::stopBranches(kestThread::Stop::Script);
    if (m_app) {
        emit m_app->stopAll();
        emit m_app->stopRecord();
    }
    if (m_project)
        m_project->loadProject(path);
    if (m_app)
        emit m_app->projectLoaded();
}

void kestCommandRouter::changeEntity(const QString &payload)
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

void kestCommandRouter::callProcedure(const QString &name)
{
    if (!m_project || !m_app || !m_project->callProcedure(name))
        return;
    m_app->addCalledProcedure(name);
    if (WebView *bridge = sceneBridge()) {
        connect(m_app, &kestApplication::procedureFinished, bridge, &WebView::procedureFinished, Qt::UniqueConnection);
        bridge->setAwaitedProcedure(name);
    }
}

void kestCommandRouter::setMailTimeouts(int replyMs, int conversationMs)
{
    m_mailReplyMs = replyMs;
    m_mailConversationMs = conversationMs;
}

void kestCommandRouter::sendMail(const QString &payload)
{
    const QStringList fields = payload.split(QLatin1Char('|'));
    const auto field = [&fields](int index) { return fields.value(index); };
    qCDebug(lcMail).noquote() << QStringLiteral("Send Mail");
    const Attachment place = attachmentPlace(field(7));
    if (place == Attachment::Outside) {
        qCWarning(lcMail).noquote() << QStringLiteral("[LIB] SendMail: the attachment lies outside the user folder, "
                                                      "nothing is sent: ")
                + field(7);
        emit mailStatus(Smtp::tr("Failed to send message"));
        return;
    }
    // The client talks from its socket's signals on this (the GUI) thread and is released once
    // it reports its outcome.
    const kestDeployment deployment = kestDeployment::current();
    auto *client = new Smtp(field(1), field(2), field(0), deployment.smtpPort, m_mailReplyMs, this);
    client->setCaCertificatesFile(deployment.smtpCaFile);
    client->setTimeLimit(m_mailConversationMs);
    connect(client, &Smtp::status, this, &kestCommandRouter::mailStatus);
    connect(client, &Smtp::warning, this, &kestCommandRouter::mailWarning);
    connect(client, &Smtp::status, client, &QObject::deleteLater);
    client->sendMail(
        field(3), field(4), field(5), field(6), place == Attachment::Inside ? QStringList { field(7) } : QStringList());
    qCDebug(lcMail).noquote() << QStringLiteral("Send Mail");
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "sceneactions.h"

#include "kestcommands.h"
#include "kestlog.h"
#include "localwait.h"
#include "variablestore.h"

#include <QEventLoop>
#include <QStringList>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace {

const QString Separator = QStringLiteral(";_;");

void log(const QString &line)
{
    qCDebug(lcActions).noquote() << line;
}

// The "[LIB] Name (text)" form of the log lines.
void logCall(const char *name, const QString &text)
{
    log(QStringLiteral("[LIB] ") + QLatin1String(name) + QStringLiteral(" (") + text + QLatin1Char(')'));
}

} // namespace

kestSceneAction::kestSceneAction()
{
    connectCommands();
}

QString kestSceneAction::joinedArguments(int count) const
{
    QStringList fields;
    for (int i = 0; i < count; ++i)
        fields << argument(i);
    return fields.join(Separator);
}

void kestSceneAction::send(const QLatin1String &command, const QString &payload)
{
    emit gsSendEvent(command, payload);
}

QString MoveEntity::execute()
{
    if (!passesSkipTest())
        return QString();
    send(kestCommand::MoveEntity, joinedArguments(5));
    return QString();
}

QString ChangeEntity::execute()
{
    if (!passesRunTest())
        return QString();
    const QString entity = argument(0);
    const QString attribute = argument(1);
    const QString value = argument(2);
    // An empty value would blank the attribute in the scene (a picture without file, say).
    if (value.isEmpty())
        return QString();
    const QString payload = entity + Separator + attribute + Separator + value;
    log(QStringLiteral("[LibChangeEntity] : ") + payload);
    send(kestCommand::ChangeEntity, payload);
    return QString();
}

QString ShufflePosition::execute()
{
    if (!passesSkipTest())
        return QString();
    const QStringList positions = argument(0).split(QLatin1Char(';'));
    const int count = positions.size();

    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::random_device source;
    std::mt19937 generator(source());
    std::shuffle(order.begin(), order.end(), generator);

    // Exchanging the front with every index once moves the list along a single cycle through
    // all positions: no position is paired with itself (unless it is the only one).
    QStringList moved = positions;
    for (int index : order)
        std::swap(moved[0], moved[index]);

    QStringList pairs;
    for (int i = 0; i < count; ++i)
        pairs << positions.at(i) + QLatin1Char(';') + moved.at(i);
    const QString payload = pairs.join(Separator);
    log(QStringLiteral("[LibShufflePosition] :  ") + payload);
    send(kestCommand::ShufflePosition, payload);
    return QString();
}

QString RestoreEntityPos::execute()
{
    const QString entity = argument(0);
    logCall("RestoreEntityPos", entity);
    send(kestCommand::RestoreEntityPos, entity);
    return QString();
}

QString ChangeBackground::execute()
{
    if (!passesSkipTest())
        return QString();
    const QString colour = argument(0);
    log(QStringLiteral("[LibChangeBackground] : ") + colour);
    send(kestCommand::ChangeBackgroundColor, colour);
    return QString();
}

QString CreateBubble::execute()
{
    if (!passesRunTest())
        return QString();
    const QString text = argument(0);
    log(QStringLiteral("[LibCreateBubble] : ") + text);
    send(kestCommand::CreateBubble, text);
    return QString();
}

QString ActivateImageBorder::execute()
{
    if (!passesRunTest())
        return QString();
    const QString picture = argument(0);
    logCall("ActivateImageBorder", picture);
    send(kestCommand::ActivateImageBorder, picture);
    return QString();
}

QString TextEntity::execute()
{
    if (!passesRunTest())
        return QString();
    const QString payload = joinedArguments(6);
    log(QStringLiteral("[LibTextEntity] : ") + payload);
    send(kestCommand::CreateTextEntity, payload);
    return QString();
}

QString IgnoreUserinput::execute()
{
    if (!passesRunTest())
        return QString();
    const QString flag = argument(0);
    log(QStringLiteral("[IgnoreUserinput] : ") + flag);
    send(kestCommand::IgnoreUserinput, flag);
    return QString();
}

QString PngAnimate::execute()
{
    if (!passesRunTest())
        return QString();
    const QString first = joinedArguments(3);
    const QString repeat = childActionCount() > 3 ? argument(3) : QStringLiteral("-1");
    send(kestCommand::PngAnimate, first + Separator + repeat);
    return QString();
}

QString StopPngAnimation::execute()
{
    if (!passesRunTest())
        return QString();
    send(kestCommand::StopPngAnimation, argument(0));
    return QString();
}

QString WGLAnimation::execute()
{
    const QString first = kestVariables::resolveValue(argument(0));
    const QString second = kestVariables::resolveValue(argument(1));
    logCall("WGLAnimation", first + QLatin1Char(',') + second);
    send(kestCommand::WglAnimate, first + QLatin1Char(':') + second);
    return QString();
}

QString CreateWebkit::execute()
{
    send(kestCommand::CreateWebkit, QString());
    return QString();
}

QString ShowTextfile::execute()
{
    if (!passesRunTest())
        return QString();
    const QString title = argument(0);
    const QString file = childActionCount() > 1 ? argument(1) : QString();
    const QString payload = title + Separator + file;
    logCall("ShowTextfile", payload);
    send(kestCommand::ShowTextfile, payload);
    return QString();
}

QString PlayVideo::execute()
{
    if (!passesRunTest())
        return QString();
    const QString file = argument(0);
    const QString second = argument(1);
    logCall("PlayVideo", file + QLatin1Char(',') + second);
    send(kestCommand::PlayVideo, file + Separator + second);
    return QString();
}

QString VideoPlayer::execute()
{
    if (!passesRunTest())
        return QString();
    const QString payload = joinedArguments(3);
    logCall("Videoplayer", payload);
    send(kestCommand::VideoPlayer, payload);
    return QString();
}

QString VideoPlayerAction::execute()
{
    if (!passesRunTest())
        return QString();
    const QString keyword = argument(0);
    QString payload = keyword + Separator + argument(1);
    if (childActionCount() > 2) {
        const QString file = argument(2);
        payload += Separator + file + Separator + argument(3);
    }
    logCall("VideoPlayerAction", payload);
    if (keyword.trimmed().toLower() != QLatin1String("waittillfinished")) {
        send(kestCommand::VideoPlayerAction, payload);
        return QString();
    }

    // Both signals arrive queued from the application, inside the loop below.
    QEventLoop loop;
    kestObject *top = root();
    const auto videoEnd = connect(top, &kestObject::videoStop, this, &VideoPlayerAction::qmlVideoStop);
    const auto stop = connect(top, &kestObject::loopStop, this, &VideoPlayerAction::qmlVideoStop);
    m_loop = &loop;
    kestWaitLocally(loop, this);
    m_loop = nullptr;
    disconnect(videoEnd);
    disconnect(stop);
    return QString();
}

void VideoPlayerAction::qmlVideoStop()
{
    if (m_loop)
        m_loop->quit();
}

QString StopMedia::execute()
{
    if (!passesRunTest())
        return QString();
    const QString media = argument(0);
    log(QStringLiteral("[LIB] stopSpecificMedia (") + media + QLatin1Char(')'));
    send(kestCommand::StopSpecificMedia, media);
    return QString();
}

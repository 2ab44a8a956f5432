// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"

#include "kestlog.h"
#include "kestobject.h"
#include "kestthread.h"
#include "prio.h"

#include <QDateTime>
#include <QThread>

std::atomic<kestApplication *> kestApplication::s_instance { nullptr };

kestApplication::kestApplication(QObject *parent)
    : QObject(parent)
    , m_startTime(double(QDateTime::currentMSecsSinceEpoch()))
{
    qRegisterMetaType<Prio>("Prio");
    // Scripts sleep and compute without an event loop, so the queued stop calls of their actions
    // may never arrive: the live branches are reached through their roots at once as well.
    connect(this, &kestApplication::stopAll, this, [] { kestThread::stopBranches(kestThread::Stop::Wait); });
    connect(this, &kestApplication::exitAll, this, [] { kestThread::stopBranches(kestThread::Stop::Script); });
    connect(this, &kestApplication::stopRecord, this, [] { kestThread::stopBranches(kestThread::Stop::Recording); });
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

std::unique_ptr<kestObject> kestApplication::procedureTree(const QString &name) const
{
    QReadLocker locker(&m_procedureLock);
    return m_procedureSource ? m_procedureSource(name) : nullptr;
}

void kestApplication::setCommandHandler(CommandHandler handler)
{
    m_commandHandler = std::move(handler);
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

    if (m_commandHandler)
        m_commandHandler(command, payload);
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
    // One report per connection: the loader that signalled is let go.
    if (QObject *loader = sender())
        disconnect(loader, SIGNAL(loadFinished()), this, SLOT(kestLoadFinished()));
    emit loadFinished();
}

void kestApplication::kestProcBreak()
{
    const QStringList names = std::exchange(m_calledProcedures, {});
    for (const QString &name : names)
        emit procedureFinished(name);
}

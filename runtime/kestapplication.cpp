// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"

#include "kestlog.h"
#include "prio.h"

#include <QDateTime>

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
    QWriteLocker locker(&m_pathLock);
    m_procedureSource = std::move(source);
}

kestObject *kestApplication::procedureTree(const QString &name) const
{
    ProcedureSource source;
    {
        QReadLocker locker(&m_pathLock);
        source = m_procedureSource;
    }
    return source ? source(name) : nullptr;
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
    // The command table arrives with the project and scene layers; until then every
    // command is accepted and ignored, as an unknown name would be.
    Q_UNUSED(command)
    Q_UNUSED(payload)
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
        disconnect(m_project, SIGNAL(loadFinished()), this, SLOT(kestLoadFinished()));
    emit loadFinished();
}

void kestApplication::kestProcBreak()
{
    const QStringList names = std::exchange(m_calledProcedures, {});
    for (const QString &name : names)
        emit procedureFinished(name);
}

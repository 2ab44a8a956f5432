// SPDX-License-Identifier: GPL-3.0-or-later
#include "speech.h"

#include "kestapplication.h"
#include "kestclock.h"
#include "kestlog.h"

#include <QCoreApplication>
#include <QMutex>
#include <QTimer>

#include <utility>

namespace {

QMutex s_instanceLock;
kestSpeech *s_instance = nullptr;
bool s_shutDown = false;

// How long the engine may take to begin reading, and to read a text of n characters, before the
// text counts as unreadable. A speech service without a working sound output accepts a text,
// reports that it began, and never reports the end; a script waiting for it must not hang.
constexpr int StartTimeoutMs = 10000;
int readingLimitMs(int characters)
{
    return 10000 + 200 * characters;
}
// Building the engine lists every voice the service knows: seconds, and tens of seconds on a
// loaded machine. Longer than this, counted from the start of the build, is a service that
// does not answer.
constexpr int BuildLimitMs = 45000;
// A waiting script gives the speech thread's own watchdog this long to act first.
constexpr int ScriptGraceMs = 2000;
// How long the end of the program waits for the speech thread: a build still running or a
// service that never answers must not keep the program from ending.
constexpr unsigned long ShutdownWaitMs = 3000;
constexpr unsigned long StuckShutdownWaitMs = 200;

void raiseTo(std::atomic<quint64> &value, quint64 at)
{
    quint64 seen = value.load();
    while (seen < at && !value.compare_exchange_weak(seen, at)) { }
}

} // namespace

kestSpeech *kestSpeech::instance()
{
    QMutexLocker locker(&s_instanceLock);
    if (!s_instance && !s_shutDown && QCoreApplication::instance()) {
        s_instance = new kestSpeech;
        qAddPostRoutine(&kestSpeech::shutdown);
    }
    return s_instance;
}

kestSpeech::kestSpeech()
{
    m_thread.setObjectName(QStringLiteral("speech"));
    // Made on whichever script thread asked first; the thread object itself belongs with the
    // application, which outlives that thread.
    m_thread.moveToThread(QCoreApplication::instance()->thread());
    moveToThread(&m_thread);
    m_thread.start();
}

kestSpeech::~kestSpeech() = default;

void kestSpeech::shutdown()
{
    kestSpeech *speech = nullptr;
    {
        QMutexLocker locker(&s_instanceLock);
        speech = std::exchange(s_instance, nullptr);
        s_shutDown = true;
    }
    if (!speech)
        return;
    // The engine goes on the thread it was built on; then the object no longer belongs to it.
    QMetaObject::invokeMethod(
        speech,
        [speech] {
            delete speech->m_engine;
            speech->m_engine = nullptr;
            delete speech->m_watchdog;
            speech->m_watchdog = nullptr;
            speech->moveToThread(nullptr);
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    // An engine still being built holds the thread; a speech service that never answers must
    // not keep the program from ending, so then the object is left behind.
    const qint64 buildStartedAt = speech->m_buildStartedAt.load();
    const bool stuck = speech->m_stuck.load()
        || (!speech->m_built.load() && buildStartedAt >= 0 && kestClock::now() - buildStartedAt > BuildLimitMs);
    if (speech->m_thread.wait(stuck ? StuckShutdownWaitMs : ShutdownWaitMs))
        delete speech;
    else
        qCWarning(lcActions).noquote() << QStringLiteral("[LIB] Speech: the speech engine did not end");
}

void kestSpeech::prepare()
{
    QMetaObject::invokeMethod(
        this, [this] { build(); }, Qt::QueuedConnection);
}

quint64 kestSpeech::say(const QString &text)
{
    if (kestApplication *app = kestApplication::instance())
        connect(app, &kestApplication::stopTTS, this, &kestSpeech::stopReading, Qt::UniqueConnection);
    const quint64 ticket = ++m_lastTicket;
    if (m_stuck.load()) {
        // The speech thread may never run again: the text ends here and now.
        raiseTo(m_doneUpTo, ticket);
        emit finished(ticket);
        if (kestApplication *app = kestApplication::instance())
            QMetaObject::invokeMethod(app, &kestApplication::kestEndOfTextToSpeech, Qt::QueuedConnection);
        return ticket;
    }
    QMetaObject::invokeMethod(
        this, [this, ticket, text] { speak(ticket, text); }, Qt::QueuedConnection);
    return ticket;
}

void kestSpeech::stop(quint64 ticket)
{
    raiseTo(m_stopUpTo, ticket);
    QMetaObject::invokeMethod(
        this, [this, ticket] { cancel(ticket); }, Qt::QueuedConnection);
}

qint64 kestSpeech::waitDeadline(const QString &text) const
{
    const qint64 now = kestClock::now();
    qint64 buildLeft = 0;
    if (!m_built.load()) {
        const qint64 startedAt = m_buildStartedAt.load();
        buildLeft = startedAt < 0 ? BuildLimitMs : qMax<qint64>(0, startedAt + BuildLimitMs - now);
    }
    return now + buildLeft + StartTimeoutMs + readingLimitMs(text.size()) + ScriptGraceMs;
}

void kestSpeech::giveUp(quint64 ticket)
{
    raiseTo(m_stopUpTo, ticket);
    raiseTo(m_doneUpTo, ticket);
    if (!m_stuck.exchange(true))
        qCWarning(lcActions).noquote() << QStringLiteral(
            "[LIB] Speech: the speech engine does not answer, texts are no longer read");
    if (kestApplication *app = kestApplication::instance())
        QMetaObject::invokeMethod(app, &kestApplication::kestEndOfTextToSpeech, Qt::QueuedConnection);
}

void kestSpeech::build()
{
    if (m_engine)
        return;
    m_buildStartedAt = kestClock::now();
    m_watchdog = new QTimer(this);
    m_watchdog->setSingleShot(true);
    connect(m_watchdog, &QTimer::timeout, this, &kestSpeech::watchdogFired);

    m_engine = new QTextToSpeech(this);
    m_usable = m_engine->state() != QTextToSpeech::BackendError;
    m_buildMs = kestClock::now() - m_buildStartedAt.load();
    m_built = true;
    if (!m_usable) {
        qCWarning(lcActions).noquote() << QStringLiteral("[LIB] Speech: no text-to-speech engine, texts are not read");
        return;
    }
    // Reported from the speech service's own thread, so they arrive here queued and in order.
    connect(m_engine, &QTextToSpeech::stateChanged, this, &kestSpeech::engineStateChanged);
}

void kestSpeech::speak(quint64 ticket, const QString &text)
{
    if (m_current) {
        m_engine->stop();
        finish(m_current);
    }
    if (ticket <= m_stopUpTo.load()) {
        finish(ticket);
        return;
    }
    build();
    if (!m_usable || m_engine->state() == QTextToSpeech::BackendError || text.trimmed().isEmpty()) {
        finish(ticket);
        return;
    }
    m_current = ticket;
    m_started = false;
    m_length = text.size();
    m_engine->say(text);
    m_watchdog->start(StartTimeoutMs);
}

void kestSpeech::cancel(quint64 ticket)
{
    if (m_current && m_current <= ticket) {
        m_engine->stop();
        finish(m_current);
    }
}

void kestSpeech::stopReading()
{
    if (m_current)
        cancel(m_current);
}

void kestSpeech::engineStateChanged(QTextToSpeech::State state)
{
    if (!m_current)
        return;
    switch (state) {
    case QTextToSpeech::Speaking:
        if (!m_started) {
            m_watchdog->start(readingLimitMs(m_length));
            emit speaking(m_current);
        }
        m_started = true;
        break;
    case QTextToSpeech::Ready:
        // A Ready before the text began is the end of the text it replaced.
        if (m_started)
            finish(m_current);
        break;
    case QTextToSpeech::BackendError:
        qCWarning(lcActions).noquote() << QStringLiteral("[LIB] Speech: the speech engine failed");
        finish(m_current);
        break;
    case QTextToSpeech::Paused:
        break;
    }
}

void kestSpeech::watchdogFired()
{
    if (!m_current)
        return;
    qCWarning(lcActions).noquote() << (m_started
            ? QStringLiteral("[LIB] Speech: the reading did not end, stopped")
            : QStringLiteral("[LIB] Speech: the speech engine did not begin to read"));
    m_engine->stop();
    finish(m_current);
}

void kestSpeech::finish(quint64 ticket)
{
    if (ticket == m_current) {
        m_current = 0;
        m_started = false;
        if (m_watchdog)
            m_watchdog->stop();
    }
    raiseTo(m_doneUpTo, ticket);
    emit finished(ticket);
    // Listeners of the hub learn that reading has ended.
    if (kestApplication *app = kestApplication::instance())
        QMetaObject::invokeMethod(app, &kestApplication::kestEndOfTextToSpeech, Qt::QueuedConnection);
}

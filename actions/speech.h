// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QTextToSpeech>
#include <QThread>

#include <atomic>

class QTimer;

// The text-to-speech engine that all scripts share, on a thread of its own. Building an engine
// asks the speech service for every voice it knows, which takes seconds, and the engines of one
// process all receive each other's state reports; so there is one, built once, away from the GUI
// and the script threads. Texts are read one at a time: a newer text cuts an older one short.
// The public functions are safe from any thread.
class kestSpeech : public QObject
{
    Q_OBJECT
public:
    // The process-wide instance, started on first use; nullptr without an application object or
    // once the application is shutting down.
    static kestSpeech *instance();

    // Starts building the engine in the background, so that the first text is read sooner.
    void prepare();
    // Queues text to be read and returns its ticket (counting up from 1).
    quint64 say(const QString &text);
    // Ends the text of ticket if it is still waiting or being read (and any older one).
    void stop(quint64 ticket);
    // True once the text of ticket was read to its end, was cut short, or could not be read.
    bool isDone(quint64 ticket) const { return ticket <= m_doneUpTo.load(); }

    // The moment (on kestClock) after which a script waiting for text, queued now, stops
    // waiting: time for the engine to be built and to begin, plus the reading limit for the
    // text's length. It does not depend on the speech thread, which a speech service that never
    // answers blocks for good.
    qint64 waitDeadline(const QString &text) const;
    // A script gave up waiting for ticket: the engine counts as unusable for the rest of the run
    // (later texts end at once) and a warning is logged the first time.
    void giveUp(quint64 ticket);
    // True once the engine is built (usable or not); buildMs() then says how long that took.
    bool isBuilt() const { return m_built.load(); }
    qint64 buildMs() const { return m_buildMs.load(); }

signals:
    // The text of ticket is done. Emitted on the speech thread, or on the script's thread for a
    // text that ends at once because the engine is stuck.
    void finished(quint64 ticket);
    // The engine began to read the text of ticket. Emitted on the speech thread.
    void speaking(quint64 ticket);

private slots:
    // Ends the text being read (the application's stopTTS).
    void stopReading();

private:
    kestSpeech();
    ~kestSpeech() override;
    // Ends the speech thread; runs in the destructor of the Qt application object.
    static void shutdown();

    // The rest runs on the speech thread.
    void build();
    void speak(quint64 ticket, const QString &text);
    void cancel(quint64 ticket);
    void engineStateChanged(QTextToSpeech::State state);
    // The text being read took too long to begin or to end.
    void watchdogFired();
    void finish(quint64 ticket);

    QThread m_thread;
    QTextToSpeech *m_engine = nullptr;
    QTimer *m_watchdog = nullptr;
    bool m_usable = false;
    quint64 m_current = 0; // the ticket being read, 0 when none
    bool m_started = false; // the engine has begun reading m_current
    int m_length = 0; // characters of m_current

    std::atomic<quint64> m_lastTicket { 0 };
    std::atomic<quint64> m_doneUpTo { 0 };
    std::atomic<quint64> m_stopUpTo { 0 };
    std::atomic<bool> m_stuck { false };
    std::atomic<bool> m_built { false };
    std::atomic<qint64> m_buildStartedAt { -1 }; // kestClock ms; -1 before the build began
    std::atomic<qint64> m_buildMs { 0 };
};

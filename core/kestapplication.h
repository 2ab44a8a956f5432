// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QReadWriteLock>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class kestObject;

// The hub between scripts and the GUI thread: hands script commands to the command handler that
// the project layer installs, and carries the process-wide stop and speech signals. One instance
// per process, created on the GUI thread; actions on worker threads find it through instance().
class kestApplication : public QObject
{
    Q_OBJECT
public:
    explicit kestApplication(QObject *parent = nullptr);
    ~kestApplication() override;

    // The process-wide instance, or nullptr before start-up created it. Safe from any thread.
    static kestApplication *instance();

    // Milliseconds since the epoch at construction; "$TIMER" counts from here.
    double startTime() const { return m_startTime; }

    // Folder of the loaded course: the base for file names in scripts. Read from worker threads.
    QString projectPath() const;
    void setProjectPath(const QString &path);

    QObject *mainWindow() const { return m_mainWindow; }
    void setMainWindow(QObject *window) { m_mainWindow = window; }

    // Where script commands go. Installed and called on the GUI thread only; without a handler
    // commands are dropped.
    using CommandHandler = std::function<void(const QString &command, const QString &payload)>;
    void setCommandHandler(CommandHandler handler);

    // Procedures started by "callProcedure" since the last kestProcBreak (GUI thread only).
    QStringList calledProcedures() const { return m_calledProcedures; }
    void addCalledProcedure(const QString &name) { m_calledProcedures.append(name); }

    // Where CallProcedure gets its trees: the project installs its procedure lookup here.
    using ProcedureSource = std::function<std::unique_ptr<kestObject>(const QString &name)>;
    void setProcedureSource(ProcedureSource source);
    // A fresh tree of the named procedure, built on the calling thread, which owns it; nullptr
    // when no procedure has that name. Safe from any thread.
    std::unique_ptr<kestObject> procedureTree(const QString &name) const;

signals:
    void readText(QString text);
    void ausgabe(QString text);
    void stopTTS();
    void textToSpeechStop();
    void ttsFinished();
    void endOfTTS();
    void procedureFinished(QString name);
    void loadFinished();
    void stopAll();
    void exitAll();
    void stopAudioSignal(QString);
    void stopVideoSignal();
    void stopRecord();
    void projectLoaded();
    void currentRunningSubprojectInfo(QString);

public slots:
    // Runs a script command on the GUI thread; commands arriving on another thread are passed
    // on to it in the order they came.
    void kestHandleEvent(const QString &command, const QString &payload);
    void kestReadText(QString text);
    void kestEndTextToSpeech();
    void kestEndOfTextToSpeech();
    void kestAusgabe(QString text);
    void kestTtsFinished();
    void kestProcedureFinished(QString name);
    void kestLoadFinished();
    void kestProcBreak();

private:
    CommandHandler m_commandHandler;
    QStringList m_calledProcedures;

    static std::atomic<kestApplication *> s_instance;

    const double m_startTime;
    mutable QReadWriteLock m_pathLock;
    QString m_projectPath;
    // Held (shared) while a worker calls the source, so replacing it waits for calls in progress.
    mutable QReadWriteLock m_procedureLock;
    ProcedureSource m_procedureSource;
    QPointer<QObject> m_mainWindow;
};

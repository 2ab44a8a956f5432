// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "prio.h"

#include <QDomElement>
#include <QMutex>
#include <QString>
#include <QThread>

#include <memory>

class kestObject;
class kestOwnerLink;

// One run of a script: builds the action tree on its own thread and runs it under the priority
// rules of the scheduler. Created without a parent by a branch manager on the GUI thread, and
// deleted there once finished (by the manager, or by itself when the manager is gone).
class kestThread : public QThread
{
    Q_OBJECT
public:
    // script is a handle to the Code element: it stays valid when the manager goes away.
    // Results are delivered to the owner behind link (may be null: nobody is told).
    kestThread(const QDomElement &script, Prio prio, const QString &name, std::shared_ptr<kestOwnerLink> link);
    ~kestThread() override;

    Prio prio() const { return m_prio; }
    QString name() const { return m_name; }

    // Hands the thread over to itself: called by a manager that is deleted before its branch
    // ended. A finished thread is deleted at once, a running one deletes itself (deferred, on
    // the GUI thread) when it is done.
    void disown();

    // What a stop request of the application does to the live branches.
    enum class Stop {
        Wait, // ends the wait a branch is in (loopStop on its root)
        Script, // ends the whole script (skipObject and loopStop on its root); a branch not yet
                // built is skipped as soon as it is
        Recording, // ends a recording (recordStop on its root)
    };
    // Delivers a stop to every live branch at once, whatever its actions are doing: the root's
    // flag is set and the root's signal is emitted on the calling thread, under the scheduler
    // lock, so waits that connect directly to their root end without an event loop of their
    // own. Receivers of a root's stop signals must therefore not take the scheduler lock.
    static void stopBranches(Stop kind);

    // Tells every live branch to stop (Stop::Script: waiters leave their wait as well) and waits up to msecs (-1: no
    // limit) for all of them to end; disowned threads that ended are deleted. Returns false when a branch is still
    // running. Call on the GUI thread, at shutdown and in tests, so that no thread outlives the program.
    static bool shutdownAll(int msecs = -1);
    // kestThread objects in existence (running or not yet deleted).
    static int liveCount();

    // Bytes of the calling worker's stack still free, or -1 when not called on a worker. Deep
    // recursion that a course can cause (procedures calling procedures) stops while plenty is
    // left.
    static qint64 stackLeft();
    static constexpr uint StackSize = 8 * 1024 * 1024;

signals:
    // The script name, when a PROCEDURE branch that ran alongside another ends. Emitted on the
    // worker thread; connected directly to the owner's handleResults(QString).
    void resultReady(QString result);

public slots:
    void breakAll() { }

protected:
    void run() override;

private:
    enum class Start { Skipped, Alongside, Procedure, Wait, Registered };

    Start decide(kestObject *root, int *number);
    // Waits until this waiting branch may run or is to leave; true when it was registered.
    bool waitForTurn(kestObject *root, int number);
    void runRegistered(kestObject *root);
    void deliverResult();
    void bodyDone();

    const QDomElement m_script;
    const Prio m_prio;
    const QString m_name;
    const std::shared_ptr<kestOwnerLink> m_link;
    // Requests are numbered in the order they were made (on the GUI thread); worker threads
    // may reach the scheduler in another order.
    const quint64 m_request;

    // Guarded by statSchedulerLock: the tree now built (for shutdownAll) and the stop request.
    kestObject *m_root = nullptr;
    bool m_stopRequested = false;

    // Who deletes this object: guarded by m_lifeLock.
    QMutex m_lifeLock;
    bool m_bodyDone = false;
    bool m_disowned = false;
};

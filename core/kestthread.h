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

    // Tells every live branch to stop (skipObject and loopStop on its root, waiters leave their
    // wait) and waits up to msecs (-1: no limit) for all of them to end; disowned threads that
    // ended are deleted. Returns false when a branch is still running. Call on the GUI thread,
    // at shutdown and in tests, so that no thread outlives the program.
    static bool shutdownAll(int msecs = -1);
    // kestThread objects in existence (running or not yet deleted).
    static int liveCount();

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
    void waitForTurn(int number);
    void runRegistered(kestObject *root);
    void deliverResult();
    void bodyDone();

    const QDomElement m_script;
    const Prio m_prio;
    const QString m_name;
    const std::shared_ptr<kestOwnerLink> m_link;

    // Guarded by statSchedulerLock: the tree now built (for shutdownAll) and the stop request.
    kestObject *m_root = nullptr;
    bool m_stopRequested = false;

    // Who deletes this object: guarded by m_lifeLock.
    QMutex m_lifeLock;
    bool m_bodyDone = false;
    bool m_disowned = false;
};

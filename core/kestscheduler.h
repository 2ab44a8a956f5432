// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "prio.h"

#include <QMutex>
#include <QVector>
#include <QWaitCondition>

#include <atomic>
#include <memory>

class kestObject;
class QObject;

// The process-wide state that decides which branch runs, which waits and which is dropped.
// Every field is written under statSchedulerLock and, but for the two atomics, read under it too.
// The lock is never held while a tree executes or a thread sleeps.
extern QMutex statSchedulerLock;
// The root of the registered (running) branch, and whether a script is registered. Actions read
// them without the lock for their run test.
extern std::atomic<kestObject *> statRunningObject;
extern std::atomic<bool> statScriptRunning;
// A branch is waiting for the registered branch to end.
extern bool statBranchWaiting;
// Number handed to the latest waiting branch; never lowered, so no waiter can be left behind.
extern int statWaitCounter;
// PROCEDURE branches now running alongside the registered branch; waiters hold back while
// it is above 0.
extern int statProcedureRunning;
// Per priority, the request number of the newest branch that was registered or began to wait;
// a branch requested earlier that reaches the scheduler later is dropped.
extern quint64 statNewestEntered[PROCEDURE + 1];
// Roots of the branches now waiting. A root leaves this list (under the lock) before its tree
// is deleted, so a newer branch may call endAll on it while holding the lock.
extern QVector<kestObject *> statWaitingObjects;
// Woken (with statSchedulerLock) whenever a waiting branch may have got its turn or been told to
// stop: the registered branch or a procedure ended, a waiter left or was skipped.
extern QWaitCondition statTurnChanged;

// Delivery of a branch's result to its owner (an entity or a sub-project). The result is handed
// over on the worker thread while the GUI thread may be deleting the owner, so both sides take
// one lock: a branch calls the owner only while the owner is attached, and detach() waits for
// a call in progress.
class kestOwnerLink
{
public:
    // The link of owner, created on first use; detached at the latest when the owner's QObject
    // part is destroyed.
    static std::shared_ptr<kestOwnerLink> of(QObject *owner);
    // Ends every delivery to owner; returns once no branch is calling it any more.
    static void detach(QObject *owner);

    // Runs deliver() under the delivery lock if the owner is still attached.
    template <typename Fn> void deliver(Fn deliver)
    {
        QMutexLocker locker(&deliveryLock());
        if (m_attached)
            deliver();
    }

private:
    static QMutex &deliveryLock();
    bool m_attached = true; // guarded by deliveryLock()
};

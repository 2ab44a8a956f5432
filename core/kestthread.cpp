// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestthread.h"

#include "kestlog.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "scriptbuilder.h"
#include "valueactions.h"

#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

// Every kestThread in existence; guarded by statSchedulerLock.
QSet<kestThread *> &liveThreads()
{
    static QSet<kestThread *> threads;
    return threads;
}

std::atomic<quint64> s_requests { 0 };

// Where this worker's stack began; 0 off a worker.
thread_local quintptr t_stackTop = 0;

// Makes root the registered running branch. Call with statSchedulerLock held.
void registerRunning(kestObject *root, int number)
{
    statRunningObject = root;
    statScriptRunning = true;
    // Lowering the counter would strand a younger waiter whose number is above it until
    // some later branch happened to wait.
    statWaitCounter = qMax(statWaitCounter, number);
}

void log(const QString &line)
{
    qCDebug(lcRuntime).noquote() << line;
}

} // namespace

kestThread::kestThread(const QDomElement &script, Prio prio, const QString &name, std::shared_ptr<kestOwnerLink> link)
    : m_script(script)
    , m_prio(prio)
    , m_name(name)
    , m_link(std::move(link))
    , m_request(++s_requests)
{
    setStackSize(StackSize);
    QMutexLocker locker(&statSchedulerLock);
    liveThreads().insert(this);
}

kestThread::~kestThread()
{
    // Only ever deleted after its body ended; this returns at once then.
    wait();
    QMutexLocker locker(&statSchedulerLock);
    liveThreads().remove(this);
}

void kestThread::run()
{
    char top = 0;
    t_stackTop = reinterpret_cast<quintptr>(&top);
    // The tree belongs to this thread, which built it, and is deleted here before the body ends.
    std::unique_ptr<kestObject> tree = kestScriptBuilder::buildScript(m_script);
    kestObject *root = tree.get();
    if (root && qobject_cast<ActionList *>(root) && !root->hasChildren) {
        log(QStringLiteral("Empty Actionlist, throw away!"));
        tree.reset();
        bodyDone();
        return;
    }
    if (!root) {
        log(QStringLiteral("Found no RootObject?! Error!!"));
        bodyDone();
        return;
    }
    root->prio = m_prio;

    int number = 0;
    switch (decide(root, &number)) {
    case Start::Skipped:
        break;
    case Start::Alongside:
        // A hover beside a recording: runs unregistered, its result is of no interest.
        root->execute();
        break;
    case Start::Procedure:
        log(QStringLiteral("Thread: Prio Procedure: Run Begin"));
        root->execute();
        log(QStringLiteral("Thread: Prio Procedure: Run END"));
        deliverResult();
        {
            QMutexLocker locker(&statSchedulerLock);
            --statProcedureRunning;
            statTurnChanged.wakeAll();
        }
        break;
    case Start::Wait:
        if (waitForTurn(root, number))
            runRegistered(root);
        break;
    case Start::Registered:
        runRegistered(root);
        break;
    }

    {
        QMutexLocker locker(&statSchedulerLock);
        m_root = nullptr;
    }
    tree.reset();
    bodyDone();
}

kestThread::Start kestThread::decide(kestObject *root, int *number)
{
    QMutexLocker locker(&statSchedulerLock);
    m_root = root;
    if (m_stopRequested)
        root->skipObject = true;

    kestObject *running = statScriptRunning.load() ? statRunningObject.load() : nullptr;
    const Prio runningPrio = running ? running->prio.load() : LEAVE;
    // Two newcomers of lower priority are let through: a hover beside a recording runs at
    // once, and a click cuts short the wait of a procedure that was registered alone.
    const bool hoverBesideRecord = running && runningPrio == RECORD && m_prio == SELECT;
    const bool clickOnProcedure = running && runningPrio == PROCEDURE && m_prio == CLICK;
    if (running && runningPrio > m_prio && !hoverBesideRecord && !clickOnProcedure)
        root->skipObject = true;
    // A branch requested after this one, of equal or higher priority, got to the scheduler first
    // (threads start in any order): had this one come in time, that one would have stopped it.
    // So it is dropped, whether the other still runs, waits or has ended. Procedures never
    // pre-empt and are left out.
    if (m_prio != PROCEDURE && !hoverBesideRecord && !root->skipObject.load()) {
        for (int p = m_prio; p < PROCEDURE; ++p) {
            if (statNewestEntered[p] > m_request) {
                log(QStringLiteral("Thread: overtaken by a newer request"));
                root->skipObject = true;
                break;
            }
        }
    }

    if (root->skipObject.load())
        return Start::Skipped;
    if (!statScriptRunning.load() && !statBranchWaiting) {
        registerRunning(root, 0);
        statNewestEntered[m_prio] = qMax(statNewestEntered[m_prio], m_request);
        return Start::Registered;
    }
    if (hoverBesideRecord)
        return Start::Alongside;
    if (m_prio == PROCEDURE) {
        log(QStringLiteral("Thread: Prio Procedure!"));
        ++statProcedureRunning;
        return Start::Procedure;
    }

    statBranchWaiting = true;
    *number = ++statWaitCounter;
    log(QStringLiteral("Index: ") + QString::number(*number));
    // endAll is called with the lock held: no root in the scheduler state can be deleted
    // by its own thread meanwhile.
    const QVector<kestObject *> waiting = statWaitingObjects;
    for (kestObject *waiter : waiting)
        kestObject::endAllOn(waiter, m_prio);
    statWaitingObjects.append(root);
    kestObject::endAllOn(statRunningObject.load(), m_prio);
    statNewestEntered[m_prio] = qMax(statNewestEntered[m_prio], m_request);
    // Waiters just skipped leave as soon as nothing runs.
    statTurnChanged.wakeAll();
    return Start::Wait;
}

bool kestThread::waitForTurn(kestObject *root, int number)
{
    QMutexLocker locker(&statSchedulerLock);
    for (;;) {
        if (m_stopRequested)
            break;
        if (!statScriptRunning.load() && statProcedureRunning == 0) {
            // Every skipped waiter leaves now, but only one branch takes the turn: the oldest
            // waiter still meant to run. Newcomers stop the waiters they may stop, so the ones
            // left are of falling priority in the order they came.
            if (root->skipObject.load())
                break;
            const auto first = std::find_if(statWaitingObjects.cbegin(), statWaitingObjects.cend(),
                [](const kestObject *waiter) { return !waiter->skipObject.load(); });
            if (first != statWaitingObjects.cend() && *first == root)
                break;
        }
        // Every change that matters wakes the condition; the time-out only catches a stop flag
        // set by the tree itself, without the lock.
        statTurnChanged.wait(&statSchedulerLock, 50);
    }
    // Leaving the waiting list and registering in one step: a newcomer in between would
    // otherwise see neither and could not stop this branch.
    statWaitingObjects.removeOne(root);
    const bool registered = !root->skipObject.load();
    if (registered)
        registerRunning(root, number);
    // Newcomers queue behind the waiters still left, so that they can stop them.
    statBranchWaiting = !statWaitingObjects.isEmpty();
    statTurnChanged.wakeAll();
    return registered;
}

void kestThread::runRegistered(kestObject *root)
{
    root->execute();
    QMutexLocker locker(&statSchedulerLock);
    log(QStringLiteral("BranchManager::run::Thread -> Finished"));
    if (statRunningObject.load() == root) {
        statScriptRunning = false;
        statRunningObject = nullptr;
        statTurnChanged.wakeAll();
    }
}

void kestThread::deliverResult()
{
    if (m_link)
        m_link->deliver([this] { emit resultReady(m_name); });
    else
        emit resultReady(m_name);
}

void kestThread::bodyDone()
{
    QMutexLocker locker(&m_lifeLock);
    m_bodyDone = true;
    // Posted to the GUI thread, where this object lives; QThread waits for the last steps
    // of the finishing thread before it is destroyed.
    if (m_disowned)
        deleteLater();
}

void kestThread::disown()
{
    QMutexLocker locker(&m_lifeLock);
    if (!m_bodyDone) {
        m_disowned = true;
        return;
    }
    locker.unlock();
    delete this;
}

void kestThread::stopBranches(Stop kind)
{
    QMutexLocker locker(&statSchedulerLock);
    for (kestThread *thread : qAsConst(liveThreads())) {
        if (kind == Stop::Script)
            thread->m_stopRequested = true;
        kestObject *root = thread->m_root;
        if (!root)
            continue;
        switch (kind) {
        case Stop::Script:
            root->skipObject = true;
            emit root->loopStop();
            break;
        case Stop::Wait:
            emit root->loopStop();
            break;
        case Stop::Recording:
            emit root->recordStop();
            break;
        }
    }
    if (kind == Stop::Script)
        statTurnChanged.wakeAll();
}

bool kestThread::shutdownAll(int msecs)
{
    QList<kestThread *> threads;
    {
        QMutexLocker locker(&statSchedulerLock);
        threads = liveThreads().values();
    }
    stopBranches(Stop::Script);

    QElapsedTimer clock;
    clock.start();
    bool allEnded = true;
    for (kestThread *thread : threads) {
        unsigned long budget = ULONG_MAX;
        if (msecs >= 0)
            budget = static_cast<unsigned long>(qMax<qint64>(0, msecs - clock.elapsed()));
        if (!thread->wait(budget))
            allEnded = false;
    }

    // Disowned threads that ended would otherwise wait for the GUI event loop to delete them.
    for (kestThread *thread : threads) {
        QMutexLocker locker(&thread->m_lifeLock);
        if (thread->m_disowned && thread->m_bodyDone) {
            locker.unlock();
            delete thread;
        }
    }
    return allEnded;
}

qint64 kestThread::stackLeft()
{
    if (!t_stackTop)
        return -1;
    char here = 0;
    const auto used = qint64(t_stackTop) - qint64(reinterpret_cast<quintptr>(&here));
    return qint64(StackSize) - used;
}

int kestThread::liveCount()
{
    QMutexLocker locker(&statSchedulerLock);
    return liveThreads().size();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestscheduler.h"

#include <QHash>
#include <QObject>

QMutex statSchedulerLock;
std::atomic<kestObject *> statRunningObject { nullptr };
std::atomic<bool> statScriptRunning { false };
bool statBranchWaiting = false;
int statWaitCounter = 0;
int statProcedureRunning = 0;
QVector<kestObject *> statWaitingObjects;
QWaitCondition statTurnChanged;
quint64 statNewestEntered[PROCEDURE + 1] = {};

namespace {

// Attached owners; guarded by the delivery lock.
QHash<QObject *, std::shared_ptr<kestOwnerLink>> &links()
{
    static QHash<QObject *, std::shared_ptr<kestOwnerLink>> instance;
    return instance;
}

} // namespace

QMutex &kestOwnerLink::deliveryLock()
{
    // Recursive: an owner's handleResults may itself delete an owner on the worker thread.
    static QMutex lock(QMutex::Recursive);
    return lock;
}

std::shared_ptr<kestOwnerLink> kestOwnerLink::of(QObject *owner)
{
    if (!owner)
        return nullptr;
    QMutexLocker locker(&deliveryLock());
    std::shared_ptr<kestOwnerLink> &link = links()[owner];
    if (!link) {
        link = std::make_shared<kestOwnerLink>();
        // The latest moment at which the engine can learn of the owner's end by itself; owners
        // that call detach() first thing in their destructor are safe from the very start.
        QObject::connect(owner, &QObject::destroyed, [owner] { detach(owner); });
    }
    return link;
}

void kestOwnerLink::detach(QObject *owner)
{
    QMutexLocker locker(&deliveryLock());
    if (std::shared_ptr<kestOwnerLink> link = links().take(owner))
        link->m_attached = false;
}

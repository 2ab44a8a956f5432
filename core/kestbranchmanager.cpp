// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestbranchmanager.h"

#include "kestlog.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "kestthread.h"
#include "scriptbuilder.h"

#include <utility>

kestBranchManager::kestBranchManager(QObject *owner, const QDomElement &script, const QString &name)
    : QObject(owner)
    , m_script(script)
    , m_name(name)
    , m_link(kestOwnerLink::of(owner))
{ }

kestBranchManager::~kestBranchManager()
{
    if (!m_thread)
        return;
    emit breakall();
    qCDebug(lcRuntime).noquote() << QStringLiteral("Delete while thread is active?");
    std::exchange(m_thread, nullptr)->disown();
}

void kestBranchManager::run(Prio prio)
{
    // A script never runs twice at once; a request meanwhile is dropped.
    if (m_thread)
        return;
    qCDebug(lcRuntime).noquote() << QStringLiteral("BranchManager::run         ->") + m_name
            + QStringLiteral(" priority: ") + QString::number(int(prio));

    m_thread = new kestThread(m_script, prio, m_name, m_link);
    connect(this, &kestBranchManager::breakall, m_thread, &kestThread::breakAll);
    connect(m_thread, &QThread::finished, this, &kestBranchManager::deleteLater, Qt::QueuedConnection);
    // By name: the owner is any object with this slot (an entity or a sub-project). Direct, so
    // it runs on the worker thread while the branch is still there to guard it.
    if (QObject *owner = parent())
        connect(m_thread, SIGNAL(resultReady(QString)), owner, SLOT(handleResults(QString)), Qt::DirectConnection);

    qCDebug(lcRuntime).noquote() << QStringLiteral("BranchManager::run::Thread -> Start");
    m_thread->start();
}

std::unique_ptr<kestObject> kestBranchManager::buildTree() const
{
    return kestScriptBuilder::buildScript(m_script, true);
}

void kestBranchManager::detachOwner(QObject *owner)
{
    kestOwnerLink::detach(owner);
}

void kestBranchManager::deleteLater()
{
    if (!m_thread || !m_thread->isFinished())
        return;
    delete std::exchange(m_thread, nullptr);
}

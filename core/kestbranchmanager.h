// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "prio.h"

#include <QDomElement>
#include <QObject>
#include <QString>

#include <memory>

class kestObject;
class kestOwnerLink;
class kestThread;

// Starts one script of an entity or a sub-project as a branch on a worker thread, at most one
// run at a time. Lives on the GUI thread; its parent is the script's owner, which receives the
// results of the branches in its handleResults(QString) slot.
class kestBranchManager : public QObject
{
    Q_OBJECT
public:
    kestBranchManager(QObject *owner, const QDomElement &script, const QString &name);
    // A branch still attached runs on to its end and then deletes its own thread object.
    ~kestBranchManager() override;

    // Starts the script with the given priority and returns at once. Dropped while an earlier
    // run of this script is still attached.
    void run(Prio prio);

    // A fresh tree of the script, built on the calling thread without running it; the caller
    // owns it. nullptr when the script has no root. Safe from any thread.
    std::unique_ptr<kestObject> buildTree() const;

    QString name() const { return m_name; }
    QDomElement scriptElement() const { return m_script; }
    // A branch is attached: running, waiting, or finished and not yet collected.
    bool isBusy() const { return m_thread != nullptr; }

    // Owners call this first thing in their destructor: results of branches that outlive the
    // owner are no longer delivered, and a delivery in progress is waited for. (Without the
    // call delivery stops only when the owner's QObject part is destroyed.)
    static void detachOwner(QObject *owner);

signals:
    void breakall();

public slots:
    // Collects the finished thread and makes the manager idle again; queued from the thread's
    // finished(). Hides QObject::deleteLater(): a call by name never deletes the manager, and
    // does nothing while the branch is still running.
    void deleteLater();

private:
    const QDomElement m_script;
    const QString m_name;
    const std::shared_ptr<kestOwnerLink> m_link;
    kestThread *m_thread = nullptr;
};

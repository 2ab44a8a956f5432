// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestobject.h"

#include "kestapplication.h"
#include "kestlog.h"
#include "kestscheduler.h"
#include "scriptbuilder.h"

#include <QChildEvent>

#include <utility>

QString prioName(Prio prio)
{
    switch (prio) {
    case LEAVE:
        return QStringLiteral("LEAVE");
    case SELECT:
        return QStringLiteral("SELECT");
    case CLICK:
        return QStringLiteral("CLICK");
    case PROCEDURE:
        return QStringLiteral("PROCEDURE");
    case RECORD:
        break;
    }
    return QString();
}

namespace {

// Set while the builder creates an action that it puts below a parent action at once.
thread_local bool t_childConstruction = false;

} // namespace

kestObject::ChildConstruction::ChildConstruction()
{
    t_childConstruction = true;
}

kestObject::ChildConstruction::~ChildConstruction()
{
    t_childConstruction = false;
}

kestObject::kestObject(QObject *parent)
    : QObject(parent)
{
    // Only a tree's root listens to the application; it hands each stop on to the actions below
    // it. Connections on every action made large trees slow to build and, spread over the heap,
    // slow to run. The flag covers the first action constructed only: the one the builder makes,
    // not any that action makes itself.
    const bool child = std::exchange(t_childConstruction, false);
    if (!child && !qobject_cast<kestObject *>(parent))
        listenToApplication();
}

void kestObject::listenToApplication()
{
    kestApplication *app = kestApplication::instance();
    if (m_listening || !app)
        return;
    m_listening = true;
    connect(app, &kestApplication::stopAll, this, [this] { relay(&kestObject::stopAll); });
    connect(app, &kestApplication::exitAll, this, [this] { relay(&kestObject::exit); });
    connect(app, &kestApplication::stopVideoSignal, this, [this] { relay(&kestObject::stopVideo); });
    connect(app, &kestApplication::stopRecord, this, [this] { relay(&kestObject::stopRecord); });
}

void kestObject::relay(void (kestObject::*slot)())
{
    // In creation order, as if every action had its own connection; an action that listens
    // itself (a tree put below this one) is reached through its own.
    (this->*slot)();
    for (int i = 0;; ++i) {
        kestObject *child = childAction(i);
        if (!child)
            break;
        if (!child->m_listening)
            child->relay(slot);
    }
}

void kestObject::connectSpeechEnd()
{
    if (kestApplication *app = kestApplication::instance())
        connect(this, &kestObject::endTextToSpeech, app, &kestApplication::kestEndTextToSpeech, Qt::QueuedConnection);
}

void kestObject::connectCommands()
{
    if (kestApplication *app = kestApplication::instance())
        connect(this, &kestObject::gsSendEvent, app, &kestApplication::kestHandleEvent, Qt::QueuedConnection);
}

void kestObject::load(const QDomElement &source)
{
    element = source;
    m_text = source.firstChild().nodeValue();
    const QString name = source.attribute(QStringLiteral("name"));
    if (!name.isEmpty())
        setObjectName(name);
    bool created = false;
    for (QDomElement child = source.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        if (kestObject *action = kestScriptBuilder::createAction(child.tagName(), this)) {
            action->load(child);
            created = true;
        }
    }
    hasChildren = created;
}

kestObject *kestObject::root() const
{
    const kestObject *node = this;
    while (auto *parentAction = qobject_cast<kestObject *>(node->parent()))
        node = parentAction;
    return const_cast<kestObject *>(node);
}

bool kestObject::passesSkipTest() const
{
    const kestObject *top = root();
    return top->keepAlive.load() || !top->skipObject.load();
}

bool kestObject::passesRunTest() const
{
    const kestObject *top = root();
    return top->keepAlive.load() || (!top->skipObject.load() && statRunningObject.load() != nullptr);
}

void kestObject::childEvent(QChildEvent *event)
{
    // At ChildAdded a child made with this as its constructor's parent is not yet an action:
    // it is counted as another child, which only costs the fast path below.
    if (event->added() && !qobject_cast<kestObject *>(event->child())) {
        m_otherChildren.append(event->child());
    } else if (event->removed()) {
        m_otherChildren.removeOne(event->child());
        // An action taken out of the tree (not one being deleted: that is no action any more)
        // is a root now and must hear the application itself.
        if (auto *action = qobject_cast<kestObject *>(event->child()))
            action->listenToApplication();
    }
    QObject::childEvent(event);
}

int kestObject::childActionCount() const
{
    if (m_otherChildren.isEmpty())
        return children().size();
    int count = 0;
    for (QObject *child : children()) {
        if (qobject_cast<kestObject *>(child))
            ++count;
    }
    return count;
}

kestObject *kestObject::childAction(int index) const
{
    if (index < 0)
        return nullptr;
    // Scripts run their lists by index, so this must not scan: a long list would go quadratic.
    if (m_otherChildren.isEmpty()) {
        const QObjectList &all = children();
        return index < all.size() ? static_cast<kestObject *>(all.at(index)) : nullptr;
    }
    for (QObject *child : children()) {
        if (auto *action = qobject_cast<kestObject *>(child)) {
            if (index-- == 0)
                return action;
        }
    }
    return nullptr;
}

QString kestObject::argument(int index) const
{
    kestObject *action = childAction(index);
    return action ? action->execute() : QString();
}

const QString &kestObject::elementText() const
{
    return m_text;
}

void kestObject::stopAll()
{
    emit loopStop();
}

void kestObject::exit()
{
    emit loopStop();
    root()->skipObject = true;
}

void kestObject::stopAudio(QString id)
{
    emit audioStop(id);
}

void kestObject::stopVideo()
{
    emit videoStop();
}

void kestObject::stopRecord()
{
    emit recordStop();
}

void kestObject::endAll(Prio newPrio)
{
    endAllOn(this, newPrio);
}

void kestObject::newThread(Prio prio)
{
    endAll(prio);
}

void kestObject::endAllOn(kestObject *action, Prio newPrio)
{
    qCDebug(lcRuntime).noquote() << QStringLiteral("Run with Prio ") + prioName(newPrio);
    if (!action) {
        qCDebug(lcRuntime).noquote() << QStringLiteral("get Root == NULL!! Grosser Fehler");
        return;
    }
    kestObject *top = action->root();
    const Prio rootPrio = top->prio.load();
    if (newPrio < rootPrio) {
        // A click cuts short the current wait of a registered procedure, which then goes on.
        if (rootPrio == PROCEDURE && newPrio == CLICK) {
            qCDebug(lcRuntime).noquote() << QStringLiteral("loopStop Proc!");
            emit action->loopStop();
        }
        return;
    }
    if (top->skipObject.load())
        return;
    action->skipObject = true;
    top->skipObject = true;
    qCDebug(lcRuntime).noquote() << QStringLiteral("My Prio ") + prioName(rootPrio);
    qCDebug(lcRuntime).noquote() << QStringLiteral("loopStop!");
    emit action->loopStop();
}

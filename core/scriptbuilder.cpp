// SPDX-License-Identifier: GPL-3.0-or-later
#include "scriptbuilder.h"

#include "kestlog.h"
#include "kestobject.h"

#include <QHash>
#include <QMutex>

namespace {

struct Registry
{
    QMutex lock; // the factory lock
    QHash<QByteArray, kestScriptBuilder::Factory> factories;
    QStringList order;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

} // namespace

void kestScriptBuilder::registerAction(const QString &name, Factory factory)
{
    Registry &r = registry();
    QMutexLocker locker(&r.lock);
    const QByteArray key = name.toLatin1();
    if (!r.factories.contains(key))
        r.order.append(name);
    r.factories.insert(key, factory);
}

QStringList kestScriptBuilder::registeredNames()
{
    Registry &r = registry();
    QMutexLocker locker(&r.lock);
    return r.order;
}

bool kestScriptBuilder::isRegistered(const QString &name)
{
    Registry &r = registry();
    QMutexLocker locker(&r.lock);
    return r.factories.contains(name.toLatin1());
}

kestObject *kestScriptBuilder::createAction(const QString &tagName, kestObject *parent)
{
    // The sound action's class carries the runtime's prefix; its tag does not.
    static const QString soundTag = QStringLiteral("PlaySound");
    const QString typeName = tagName == soundTag ? QStringLiteral("kestPlaySound") : tagName;

    Registry &r = registry();
    Factory factory = nullptr;
    {
        QMutexLocker locker(&r.lock);
        factory = r.factories.value(typeName.toLatin1());
    }
    if (!factory)
        return nullptr;
    if (!parent)
        return factory();
    kestObject::ChildConstruction child;
    kestObject *action = factory();
    action->setParent(parent);
    return action;
}

std::unique_ptr<kestObject> kestScriptBuilder::buildScript(const QDomElement &code, bool logTagNames)
{
    std::unique_ptr<kestObject> root;
    for (QDomElement child = code.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        if (logTagNames)
            qCDebug(lcRuntime).noquote() << child.tagName();
        // Only the last child element makes the root; an earlier tree goes.
        root.reset(createAction(child.tagName(), nullptr));
        if (root)
            root->load(child);
    }
    return root;
}

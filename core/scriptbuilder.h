// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDomElement>
#include <QString>
#include <QStringList>

#include <memory>

class kestObject;

// Turns Code elements into trees of action objects through a process-wide registry of action
// types. Lookups and creation are serialised by one lock, so worker threads may build at once.
class kestScriptBuilder
{
public:
    using Factory = kestObject *(*)();

    // Enters an action type under its element name; a later entry of the same name replaces it.
    static void registerAction(const QString &name, Factory factory);
    template <typename T> static void registerAction(const QString &name)
    {
        registerAction(name, []() -> kestObject * { return new T; });
    }

    // Registered names in registration order.
    static QStringList registeredNames();
    static bool isRegistered(const QString &name);

    // Creates the action for a tag name with the given parent (none for a root), unloaded.
    // Returns nullptr for a name that is not a registered action type.
    static kestObject *createAction(const QString &tagName, kestObject *parent);

    // Builds the tree of a Code element; the object made from its last child element is the
    // root. Returns nullptr when there is none. The tree belongs to the calling thread. With
    // logTagNames, each child tag name is written to the debug log first.
    static std::unique_ptr<kestObject> buildScript(const QDomElement &code, bool logTagNames = false);
};

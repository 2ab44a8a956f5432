// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QQuickItem;

// Empties a layer of the scene document: each leaving scene takes a hundred boxes with it, and
// taking them out one by one from the document's script cost more than making the new ones.
class kestSceneLayers : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Every child of layer is hidden, taken out of the scene at once (hit tests, name look-ups
    // and child counts no longer see it) and deleted once control is back in the event loop.
    // A child holding the keyboard focus gives it to focusTarget first, so that no key is lost.
    Q_INVOKABLE void clear(QQuickItem *layer, QQuickItem *focusTarget) const;
};

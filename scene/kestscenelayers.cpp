// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestscenelayers.h"

#include <QQuickItem>

void kestSceneLayers::clear(QQuickItem *layer, QQuickItem *focusTarget) const
{
    if (!layer)
        return;
    const QList<QQuickItem *> children = layer->childItems();
    for (QQuickItem *child : children) {
        if (child->hasActiveFocus() && focusTarget)
            focusTarget->forceActiveFocus();
        child->setVisible(false);
        child->setParentItem(nullptr);
        child->deleteLater();
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "valueactions.h"

#include "textexpansion.h"

QString ActionList::execute()
{
    // Children are looked up afresh on each step: a called procedure may add one meanwhile.
    for (int i = 0;; ++i) {
        if (!passesSkipTest())
            break;
        kestObject *child = childAction(i);
        if (!child)
            break;
        child->execute();
    }
    return QString();
}

QString Text::execute()
{
    return kestTextExpansion::expand(elementText());
}

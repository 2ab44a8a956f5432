// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestscenelog.h"

#include <QLoggingCategory>

namespace {
// The category the document's console.log writes to; the rules apply to it by name.
Q_LOGGING_CATEGORY(lcDocument, "qml")
} // namespace

bool kestSceneLog::debugOn() const
{
    return lcDocument().isDebugEnabled();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaType>
#include <QString>

// Script priority; larger is more urgent. RECORD is only ever set by a recording on its own root.
enum Prio : int {
    LEAVE = 0,
    SELECT = 1,
    RECORD = 2,
    CLICK = 3,
    PROCEDURE = 4,
};
Q_DECLARE_METATYPE(Prio)

// The name used in log lines; RECORD has none.
QString prioName(Prio prio);

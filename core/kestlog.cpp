// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestlog.h"

Q_LOGGING_CATEGORY(lcRuntime, "kestora.runtime")
Q_LOGGING_CATEGORY(lcActions, "kestora.actions")
Q_LOGGING_CATEGORY(lcScene, "kestora.scene")
Q_LOGGING_CATEGORY(lcNet, "kestora.net")
Q_LOGGING_CATEGORY(lcMail, "kestora.mail")
Q_LOGGING_CATEGORY(lcApp, "kestora.app")

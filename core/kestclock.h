// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <functional>

// The monotonic clock of the player's time guards (the scene-switch guard, the Back key's
// double press). Tests replace its source to step past a guard without sleeping.
namespace kestClock {

// Milliseconds on a monotonic clock; only differences mean anything.
qint64 now();
// Replaces the source; an empty function restores the real clock. GUI thread only.
void setSource(std::function<qint64()> source);

} // namespace kestClock

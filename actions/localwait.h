// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QEventLoop;
class kestObject;

// Runs loop on the calling thread until it is quit, until done() turns true, or until the script
// of action is told to stop. Stops reach a waiting action as queued signals, which the loop
// delivers, or as nothing but the root's skipObject flag set from another thread: the flag and
// done() are looked at every 10 ms. Returns true when the stop flag ended the wait (also when it
// was set before the wait began, in which case the loop does not run at all).
bool kestWaitLocally(QEventLoop &loop, const kestObject *action, const std::function<bool()> &done = {});

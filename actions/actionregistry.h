// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Enters every action type into the script builder's registry. Called once at program start,
// before the first script is built; later calls do nothing.
void kestRegisterActions();

// How many child actions an action type reads as its arguments and branches.
struct kestActionArguments
{
    static constexpr int Unbounded = -1;
    int least = 0;
    int most = Unbounded;
};

// The argument count of the action a tag name builds (the sound alias included); nothing for a
// tag that builds no action. Needs no registration and no running application.
std::optional<kestActionArguments> kestActionArgumentCount(const QString &tagName);
// Every tag name that builds an action, the sound alias last.
QStringList kestActionTagNames();

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// Tells the scene document whether its console lines (category "qml") are written at all: a
// scene entry would otherwise build three lines for each of a hundred entities only for the
// logging rules to drop them. Asked once per entry, since the rules may change while running.
class kestSceneLog : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    Q_INVOKABLE bool debugOn() const;
};

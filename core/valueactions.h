// SPDX-License-Identifier: GPL-3.0-or-later
// The sequence and the literal values of a script.
#pragma once

#include "kestobject.h"

// Runs its children in order until the root is told to stop.
class ActionList : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// A string literal that expands placeholders, bracket arithmetic and (variables); trimmed.
class Text : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// The element's text exactly as written.
class Number : public kestObject
{
    Q_OBJECT
public:
    QString execute() override { return elementText(); }
};

// The element's text exactly as written.
class Boolean : public kestObject
{
    Q_OBJECT
public:
    QString execute() override { return elementText(); }
};

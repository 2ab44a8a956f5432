// SPDX-License-Identifier: GPL-3.0-or-later
// Actions whose job is to set variables of the store.
#pragma once

#include "kestobject.h"

// Name, value: assigns the value (with its arithmetic forms) under the script mutex.
class SetValue : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Name: returns the variable's stored value as it is.
class GetValue : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Name, low, high: stores a pseudo-random integer from low to high (high "" means low).
class SetRandomValue : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// "a1|a2;b1|b2": deals the groups' value tuples out to the groups in a random order.
class ShuffleVariable : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Section: assigns every key of that section of the extern-variable file.
class GetExternVariableSection : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Name, path: assigns the whole UTF-8 content of the file below the user folder.
class LoadTextfile : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

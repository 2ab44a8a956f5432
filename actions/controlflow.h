// SPDX-License-Identifier: GPL-3.0-or-later
// Structure of a script: conditions, selection, a counted loop, procedure calls, exits, waits.
// Arguments and branches are child actions by position; a branch's result is passed on.
#pragma once

#include "kestobject.h"

#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <memory>

// Child 1 when argument 0 reads as a non-zero integer, else child 2.
class If : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Child 2 when the resolved arguments 0 and 1 are equal texts, else child 3.
class IfEqual : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Child 2 when the resolved arguments 0 and 1 differ, else child 3.
class IfNot : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Child 2 when both arguments read as integers and the first is the greater, else child 3.
class IfHigher : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Child 2 when both arguments read as integers and the first is the smaller, else child 3.
class IfLower : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Runs the body of the first SingleCase child that matches the resolved argument 0.
class SelectCase : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// One case of a SelectCase; its value is its name ("default" matches anything).
class SingleCase : public kestObject
{
    Q_OBJECT
public:
    QString execute() override { return QString(); }
    // Runs the body and returns "success" when the case matches value; "" otherwise.
    virtual QString matchCase(const QString &value);
};

// From argument 0 to argument 1 (inclusive) in steps of argument 2, runs children 3 and 4.
class ForLoop : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Runs the named procedure inside this script, sharing its stop flags; returns the name.
class CallProcedure : public kestObject
{
    Q_OBJECT
public:
    // Deepest nesting of procedure calls on one branch.
    static constexpr int MaxProcedureDepth = 200;
    // Stack a worker keeps free for the procedure's own actions.
    static constexpr qint64 StackReserve = 2 * 1024 * 1024;

    QString execute() override;
};

// Asks the application to stop every running script.
class Exit : public kestObject
{
    Q_OBJECT
public:
    Exit();
    QString execute() override;
};

// Ends the current script (and the script that called it as a procedure).
class ExitProc : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;
};

// Sleeps for argument 0 milliseconds (rounded up to whole steps of 10), until then or until the
// script is stopped.
class Wait : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;

public slots:
    void myQuit();

private:
    struct QuitState
    {
        QMutex lock;
        QWaitCondition woken;
        bool quit = false; // guarded by lock; stays set once a stop came
    };
    // Shared with the stop connection, which may still be running on another thread while this
    // action goes away.
    std::shared_ptr<QuitState> m_state = std::make_shared<QuitState>();
};

// SPDX-License-Identifier: GPL-3.0-or-later
// Probe actions for tests: they make the effect of a script visible.
#pragma once

#include "kestapplication.h"
#include "kestobject.h"

#include <QMutex>
#include <QStringList>
#include <memory>

class QDomDocument;
class QSignalSpy;
class kestBranchManager;
class QThread;

// Appends its element text to a process-wide journal when executed; returns the text.
class TestRecord : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;

    static QStringList journal();
    static void clearJournal();

private:
    static QMutex s_lock;
    static QStringList s_journal;
};

// Returns argument k, k taken from its "index" attribute.
class TestArgument : public kestObject
{
    Q_OBJECT
public:
    QString execute() override { return argument(element.attribute(QStringLiteral("index")).toInt()); }
};

// Tells its script to stop, as a stop request would.
class TestStop : public kestObject
{
    Q_OBJECT
public:
    QString execute() override
    {
        root()->skipObject = true;
        return QString();
    }
};

// "a|b|c" as a list of texts; "" as an empty list.
QStringList lines(const char *text);

// A literal argument: Number hands its text over untouched.
QString literal(const QString &text);
// The element of an action whose arguments are the given texts, each in an argumentType element
// (Number hands its text over untouched, Text expands it).
QString call(const QString &action, const QStringList &args, const char *argumentType = "Number");
// The same with the literal texts written "a|b|c"; "-" stands for an empty text.
QString call(const char *action, const QString &args);
QString call(const char *action, const char *args);

// "command<separator>payload" for each command that spy on gsSendEvent saw.
QStringList commands(const QSignalSpy &spy, QChar separator = QLatin1Char(':'));

// Returns once target's thread has handled every event posted to target before the call: what
// was queued there meanwhile has happened (or, for a quit, has been seen). A script on a worker
// handles its events only inside the wait of one of its actions: for an object of such a script
// this proves the wait has begun.
bool drainEvents(QObject *target, int timeoutMs = 10000);

// The tree of a script whose Code body is the given XML text; nullptr when it builds none.
std::unique_ptr<kestObject> buildBody(const QString &body);
// The same, registered as the running script when registered (for the run test of actions).
std::unique_ptr<kestObject> buildRegistered(const QString &body, bool registered = true);
// Nothing registered as running any more.
void clearRunning();

// A branch manager of the script "<Code>name body</Code>" for owner. The manager builds from the
// document whenever it runs: documents keeps it as long as the test needs the manager.
kestBranchManager *branchManager(
    QObject *owner, const QString &name, const QString &body, QList<QDomDocument> &documents);

// The procedures of CallProcedure: each Code element of procedures, found by the script name that
// leads it.
kestApplication::ProcedureSource procedureSource(const QDomDocument &procedures);

// Runs the tree on a new worker thread that owns it meanwhile, as the engine does, and hands it
// back to the calling thread at the end so that it can be deleted there.
std::unique_ptr<QThread> runOnWorker(kestObject *root);

// Registers the probes above and the real action types (the value actions alone in tests of the
// layers below the action library).
void registerTestActions();

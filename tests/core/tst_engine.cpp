// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"
#include "kestbranchmanager.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "kestthread.h"
#include "logcapture.h"
#include "scriptbuilder.h"
#include "testactions.h"

#include <QDeadlineTimer>
#include <QDomDocument>
#include <QEventLoop>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>
#include <QtTest>

#include <memory>

namespace {

QString operator""_q(const char *text, size_t size)
{
    return QString::fromLatin1(text, int(size));
}

// What probes, owners and the engine's debug lines showed, from every thread, and which
// holds the test has released.
struct Probe
{
    QMutex lock;
    QStringList events;
    std::unique_ptr<LogCapture> logs;
    QSet<QString> released;
    bool releaseAll = false;
    QHash<QString, bool> registered; // per mark: its branch was the registered one
    QWaitCondition changed; // an event added or a hold released

    void add(const QString &event)
    {
        QMutexLocker locker(&lock);
        events << event;
        changed.wakeAll();
    }
    QStringList all()
    {
        QMutexLocker locker(&lock);
        return events;
    }
    // Without a copy: a copy dropped on this thread while a worker appends is a race to the
    // thread sanitizer (the list's reference count is read relaxed before an in-place append).
    bool has(const QString &event)
    {
        QMutexLocker locker(&lock);
        return events.contains(event);
    }
    bool wasRegistered(const QString &mark)
    {
        QMutexLocker locker(&lock);
        return registered.value(mark);
    }
    int at(const QString &event)
    {
        QMutexLocker locker(&lock);
        return events.indexOf(event);
    }
    int logCount(const QString &line) { return logs->count(line); }
    void release(const QString &tag)
    {
        QMutexLocker locker(&lock);
        released.insert(tag);
        changed.wakeAll();
    }
    void releaseEverything()
    {
        QMutexLocker locker(&lock);
        releaseAll = true;
        changed.wakeAll();
    }
    bool isReleased(const QString &tag)
    {
        QMutexLocker locker(&lock);
        return releaseAll || released.contains(tag);
    }
    // Blocks the calling thread, without handling its events, until the test releases tag.
    void waitReleased(const QString &tag)
    {
        QMutexLocker locker(&lock);
        while (!releaseAll && !released.contains(tag))
            changed.wait(&lock);
    }
    // Blocks the calling thread, without handling its events, until event has happened.
    bool waitFor(const QString &event, int timeoutMs)
    {
        QMutexLocker locker(&lock);
        const QDeadlineTimer deadline(timeoutMs);
        while (!events.contains(event)) {
            if (!changed.wait(&lock, deadline))
                return events.contains(event);
        }
        return true;
    }
    void reset()
    {
        QMutexLocker locker(&lock);
        events.clear();
        logs->clear();
        released.clear();
        registered.clear();
        releaseAll = false;
    }
} probe;

// Waits in a local event loop, as media actions do, until the root's loopStop() (unless
// stop="ignore") or until the test releases its name. Events: "start:NAME" once it listens,
// then "stop:NAME" or "release:NAME".
class TestHold : public kestObject
{
    Q_OBJECT
public:
    QString execute() override
    {
        if (!passesSkipTest())
            return QString();
        QEventLoop loop;
        QString how;
        if (element.attribute("stop"_q) != "ignore"_q)
            connect(root(), &kestObject::loopStop, &loop, [&] {
                how = "stop"_q;
                loop.quit();
            });
        QTimer gate;
        connect(&gate, &QTimer::timeout, &loop, [&] {
            if (probe.isReleased(objectName())) {
                how = "release"_q;
                loop.quit();
            }
        });
        gate.start(2);
        probe.add("start:"_q + objectName());
        loop.exec();
        probe.add(how + QLatin1Char(':') + objectName());
        return QString();
    }
};

// A hold that marks its branch as recording first, as the recording action does.
class TestRecording : public TestHold
{
    Q_OBJECT
public:
    QString execute() override
    {
        root()->prio = RECORD;
        return TestHold::execute();
    }
};

// Event "mark:NAME". test="run" / "skip" makes that stop test first, as real actions do. Fails
// the check in the test (no mark) if it runs on the GUI thread or with the scheduler lock held.
// Holds up the building of its tree until the test releases "build", so that a branch reaches
// the scheduler after one requested later.
class TestSlowBuild : public kestObject
{
    Q_OBJECT
public:
    TestSlowBuild() { probe.waitReleased("build"_q); }
    QString execute() override { return QString(); }
};

class TestMark : public kestObject
{
    Q_OBJECT
public:
    QString execute() override
    {
        const QString test = element.attribute("test"_q);
        if ((test == "run"_q && !passesRunTest()) || (test == "skip"_q && !passesSkipTest()))
            return QString();
        if (QThread::currentThread() == QCoreApplication::instance()->thread() || !statSchedulerLock.tryLock(5000))
            return QString();
        statSchedulerLock.unlock();
        {
            QMutexLocker locker(&probe.lock);
            probe.registered.insert(objectName(), statRunningObject.load() == root());
        }
        probe.add("mark:"_q + objectName());
        return QString();
    }
};

// An action parented from its constructor: it is not yet an action when its parent hears of it.
class TestEcho : public kestObject
{
    Q_OBJECT
public:
    explicit TestEcho(QObject *parent)
        : kestObject(parent)
    { }
    QString execute() override { return "echo"_q; }
};

// An entity or sub-project as the engine sees it. Events "handling:OWNER" and
// "result:OWNER:VALUE"; with a delay the call lingers, so the test can delete the owner meanwhile.
class TestOwner : public QObject
{
    Q_OBJECT
public:
    explicit TestOwner(const QString &name, int delayMs = 0)
        : m_delayMs(delayMs)
    {
        setObjectName(name);
    }
    ~TestOwner() override
    {
        kestBranchManager::detachOwner(this);
        probe.add("destroyed:"_q + objectName());
    }
    QStringList results()
    {
        QMutexLocker locker(&m_lock);
        return m_results;
    }

public slots:
    void handleResults(QString value)
    {
        probe.add("handling:"_q + objectName());
        QThread::msleep(m_delayMs);
        QMutexLocker locker(&m_lock);
        if (QThread::currentThread() != thread()) // delivered on the worker thread
            m_results << value;
        probe.add("result:"_q + objectName() + QLatin1Char(':') + value);
    }

private:
    const unsigned long m_delayMs;
    QMutex m_lock;
    QStringList m_results;
};

enum Outcome {
    RunsRegistered, // runs at once and is registered
    Dropped, // skipped; the running branch goes on undisturbed
    ProcedureAlongside, // runs beside the running branch; its owner gets the name at the end
    Alongside, // runs beside the running branch, unregistered, no result
    Preempts, // the running branch is stopped, the newcomer runs after it
    CutsShort, // the running procedure's wait ends, it goes on; the newcomer runs after it
};

int waitingCount()
{
    QMutexLocker locker(&statSchedulerLock);
    return statWaitingObjects.size();
}

int procedureCount()
{
    QMutexLocker locker(&statSchedulerLock);
    return statProcedureRunning;
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

class tst_Engine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void priorityOutcomes_data();
    void priorityOutcomes();
    void sameScriptTwice();
    void threeWaitersOnlyNewestRuns();
    void lowerWaiterRunsAfterHigherWaiter();
    void procedureOutlivesRegisteredBranch();
    void waitersHoldBackForEveryProcedure();
    void nothingToRun_data();
    void nothingToRun();
    void managerDeletedWithBranch_data();
    void managerDeletedWithBranch();
    void deleteLaterByNameKeepsManager();
    void ownerDeleted_data();
    void ownerDeleted();
    void shutdownStopsEveryBranch();
    void laterRequestThatArrivesFirstWins_data();
    void laterRequestThatArrivesFirstWins();
    void buildTreeForCaller();
    void childActionsAmongOtherChildren();

private:
    // A manager of the script "<Code>name<ActionList>list</ActionList></Code>", or with the
    // list as the whole body when inList is false.
    kestBranchManager *manager(const QString &name, const QString &list, QObject *owner = nullptr, bool inList = true);

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<TestOwner> m_owner;
    QList<QDomDocument> m_documents;
};

void tst_Engine::initTestCase()
{
    probe.logs = std::make_unique<LogCapture>();
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    kestScriptBuilder::registerAction<TestHold>("TestHold"_q);
    kestScriptBuilder::registerAction<TestRecording>("TestRecording"_q);
    kestScriptBuilder::registerAction<TestMark>("TestMark"_q);
    kestScriptBuilder::registerAction<TestSlowBuild>("TestSlowBuild"_q);
}

void tst_Engine::cleanupTestCase()
{
    probe.logs.reset();
}

void tst_Engine::init()
{
    probe.reset();
    m_owner = std::make_unique<TestOwner>("owner"_q);
}

void tst_Engine::cleanup()
{
    probe.releaseEverything();
    QVERIFY(kestThread::shutdownAll(10000));
    m_owner.reset();
    QTRY_COMPARE(kestThread::liveCount(), 0);
    m_documents.clear();
    // Every branch has left the scheduler.
    QMutexLocker locker(&statSchedulerLock);
    QVERIFY(!statScriptRunning.load());
    QVERIFY(!statRunningObject.load());
    QVERIFY(!statBranchWaiting);
    QCOMPARE(statProcedureRunning, 0);
    QVERIFY(statWaitingObjects.isEmpty());
}

kestBranchManager *tst_Engine::manager(const QString &name, const QString &list, QObject *owner, bool inList)
{
    const QString body = inList ? "<ActionList>"_q + list + "</ActionList>"_q : list;
    return branchManager(owner ? owner : m_owner.get(), name, body, m_documents);
}

void tst_Engine::priorityOutcomes_data()
{
    QTest::addColumn<int>("running"); // -1: nothing runs
    QTest::addColumn<int>("incoming");
    QTest::addColumn<Outcome>("outcome");

    QTest::newRow("idle: hover") << -1 << int(SELECT) << RunsRegistered;
    QTest::newRow("idle: click") << -1 << int(CLICK) << RunsRegistered;
    QTest::newRow("idle: procedure") << -1 << int(PROCEDURE) << RunsRegistered;
    QTest::newRow("hover during click") << int(CLICK) << int(SELECT) << Dropped;
    QTest::newRow("hover during procedure") << int(PROCEDURE) << int(SELECT) << Dropped;
    QTest::newRow("leave during hover") << int(SELECT) << int(LEAVE) << Dropped;
    QTest::newRow("leave during record") << int(RECORD) << int(LEAVE) << Dropped;
    QTest::newRow("procedure during click") << int(CLICK) << int(PROCEDURE) << ProcedureAlongside;
    QTest::newRow("procedure during hover") << int(SELECT) << int(PROCEDURE) << ProcedureAlongside;
    QTest::newRow("procedure during record") << int(RECORD) << int(PROCEDURE) << ProcedureAlongside;
    QTest::newRow("procedure during procedure") << int(PROCEDURE) << int(PROCEDURE) << ProcedureAlongside;
    QTest::newRow("hover during record") << int(RECORD) << int(SELECT) << Alongside;
    QTest::newRow("hover during hover") << int(SELECT) << int(SELECT) << Preempts;
    QTest::newRow("click during hover") << int(SELECT) << int(CLICK) << Preempts;
    QTest::newRow("click during click") << int(CLICK) << int(CLICK) << Preempts;
    QTest::newRow("click during record") << int(RECORD) << int(CLICK) << Preempts;
    QTest::newRow("click during lone procedure") << int(PROCEDURE) << int(CLICK) << CutsShort;
}

void tst_Engine::priorityOutcomes()
{
    QFETCH(int, running);
    QFETCH(int, incoming);
    QFETCH(Outcome, outcome);

    const QString first = running == RECORD ? "TestRecording"_q : "TestHold"_q;
    kestBranchManager *r = manager("R"_q, "<%1 name='R1'/><TestHold name='R2' stop='ignore'/>"_q.arg(first));
    kestBranchManager *n = manager("N"_q, "<TestMark name='N'/><TestHold name='N2' stop='ignore'/>"_q);

    kestObject *runningRoot = nullptr;
    if (running >= 0) {
        r->run(running == RECORD ? CLICK : Prio(running));
        QTRY_VERIFY(probe.has("start:R1"_q));
        runningRoot = statRunningObject.load();
        QVERIFY(runningRoot);
        QCOMPARE(int(runningRoot->prio.load()), running);
    }
    n->run(Prio(incoming));

    switch (outcome) {
    case RunsRegistered:
        QTRY_VERIFY(probe.has("mark:N"_q));
        QVERIFY(probe.wasRegistered("N"_q));
        QCOMPARE(int(statRunningObject.load()->prio.load()), incoming);
        break;
    case Dropped:
        QTRY_VERIFY(!n->isBusy());
        QVERIFY(!probe.has("mark:N"_q));
        QVERIFY(!runningRoot->skipObject.load());
        QCOMPARE(statRunningObject.load(), runningRoot);
        QCOMPARE(probe.logCount("Index: 1"_q) + probe.logCount("loopStop!"_q), 0);
        break;
    case ProcedureAlongside:
        QTRY_VERIFY(probe.has("mark:N"_q));
        QVERIFY(!probe.wasRegistered("N"_q));
        QCOMPARE(procedureCount(), 1);
        QCOMPARE(probe.logCount("Thread: Prio Procedure!"_q), 1);
        QVERIFY(m_owner->results().isEmpty());
        probe.release("N2"_q);
        QTRY_COMPARE(m_owner->results(), QStringList { "N"_q });
        QTRY_VERIFY(!n->isBusy());
        QCOMPARE(procedureCount(), 0);
        QVERIFY(!probe.has("stop:R1"_q));
        QCOMPARE(statRunningObject.load(), runningRoot);
        break;
    case Alongside:
        QTRY_VERIFY(probe.has("mark:N"_q));
        QVERIFY(!probe.wasRegistered("N"_q));
        probe.release("N2"_q);
        QTRY_VERIFY(!n->isBusy());
        QVERIFY(!probe.has("stop:R1"_q));
        QCOMPARE(statRunningObject.load(), runningRoot);
        QVERIFY(!runningRoot->skipObject.load());
        QVERIFY(m_owner->results().isEmpty());
        break;
    case Preempts:
        QTRY_VERIFY(probe.has("mark:N"_q));
        QVERIFY(probe.has("stop:R1"_q));
        QVERIFY(probe.at("stop:R1"_q) < probe.at("mark:N"_q));
        QVERIFY(!probe.has("start:R2"_q)); // the stopped branch went no further
        QVERIFY(probe.wasRegistered("N"_q));
        QCOMPARE(probe.logCount("loopStop!"_q), 1);
        break;
    case CutsShort:
        QTRY_VERIFY(probe.has("start:R2"_q));
        QVERIFY(probe.has("stop:R1"_q));
        QCOMPARE(probe.logCount("loopStop Proc!"_q), 1);
        QVERIFY(!runningRoot->skipObject.load());
        QCOMPARE(waitingCount(), 1); // the newcomer waits while the procedure goes on
        probe.release("R2"_q);
        QTRY_VERIFY(probe.has("mark:N"_q));
        QVERIFY(probe.at("release:R2"_q) < probe.at("mark:N"_q));
        QVERIFY(probe.wasRegistered("N"_q));
        break;
    }
}

void tst_Engine::sameScriptTwice()
{
    // Two clicks on one entity: the second is dropped while the first one's branch is alive.
    kestBranchManager *click = manager("Script_Click"_q, "<TestMark name='C'/><TestHold name='C1' stop='ignore'/>"_q);
    click->run(CLICK);
    click->run(CLICK);
    QTRY_VERIFY(probe.has("start:C1"_q));
    click->run(CLICK);
    probe.release("C1"_q);
    QTRY_VERIFY(!click->isBusy());
    QCOMPARE(probe.all().count("mark:C"_q), 1);
    QCOMPARE(probe.logCount("BranchManager::run         ->Script_Click priority: 3"_q), 1);
    QCOMPARE(probe.logCount("BranchManager::run::Thread -> Start"_q), 1);
    QCOMPARE(probe.logCount("BranchManager::run::Thread -> Finished"_q), 1);
    QCOMPARE(kestThread::liveCount(), 0);

    click->run(CLICK); // idle again: the next click runs
    QTRY_COMPARE(probe.all().count("mark:C"_q), 2);
}

void tst_Engine::threeWaitersOnlyNewestRuns()
{
    kestBranchManager *a = manager("A"_q, "<TestHold name='A1' stop='ignore'/>"_q);
    a->run(CLICK);
    QTRY_VERIFY(probe.has("start:A1"_q));
    QList<kestBranchManager *> waiters;
    for (const QString &name : { "B"_q, "C"_q, "D"_q }) {
        waiters << manager(name, "<TestMark name='%1'/>"_q.arg(name));
        waiters.last()->run(CLICK);
        QTRY_COMPARE(waitingCount(), waiters.size()); // one at a time: each is the newest
    }
    probe.release("A1"_q);
    QTRY_VERIFY(probe.has("mark:D"_q));
    for (kestBranchManager *waiter : waiters)
        QTRY_VERIFY(!waiter->isBusy());
    QVERIFY(!probe.has("mark:B"_q));
    QVERIFY(!probe.has("mark:C"_q));
    QVERIFY(probe.wasRegistered("D"_q));
}

void tst_Engine::lowerWaiterRunsAfterHigherWaiter()
{
    // A hover waits behind a waiting click it may not stop: both run, one after the other, and
    // each is the registered branch while it runs.
    kestBranchManager *r = manager("R"_q, "<TestHold name='R1' stop='ignore'/>"_q);
    kestBranchManager *click = manager("Click"_q, "<TestMark name='click'/><TestHold name='click1' stop='ignore'/>"_q);
    kestBranchManager *hover = manager("Hover"_q, "<TestMark name='hover'/>"_q);
    r->run(SELECT);
    QTRY_VERIFY(probe.has("start:R1"_q));
    click->run(CLICK);
    QTRY_COMPARE(waitingCount(), 1);
    hover->run(SELECT);
    QTRY_COMPARE(waitingCount(), 2);
    probe.release("R1"_q);
    QTRY_VERIFY(probe.has("start:click1"_q));
    QCOMPARE(waitingCount(), 1);
    probe.release("click1"_q);
    QTRY_VERIFY(probe.has("mark:hover"_q));
    QTRY_VERIFY(!hover->isBusy());
    QVERIFY(probe.at("release:click1"_q) < probe.at("mark:hover"_q));
    QVERIFY(probe.wasRegistered("click"_q) && probe.wasRegistered("hover"_q));
}

void tst_Engine::procedureOutlivesRegisteredBranch()
{
    kestBranchManager *click = manager("Click"_q, "<TestHold name='C1' stop='ignore'/>"_q);
    kestBranchManager *proc = manager("Proc"_q,
        "<TestHold name='P1' stop='ignore'/><TestMark name='runTest' test='run'/><TestMark name='skipTest' test='skip'/>"_q);
    click->run(CLICK);
    QTRY_VERIFY(probe.has("start:C1"_q));
    proc->run(PROCEDURE);
    QTRY_VERIFY(probe.has("start:P1"_q));
    probe.release("C1"_q);
    QTRY_VERIFY(!click->isBusy());
    QVERIFY(!statRunningObject.load());
    QVERIFY(!statScriptRunning.load());

    probe.release("P1"_q);
    QTRY_VERIFY(!proc->isBusy());
    QVERIFY(!probe.has("mark:runTest"_q));
    QVERIFY(probe.has("mark:skipTest"_q));
    QCOMPARE(m_owner->results(), QStringList { "Proc"_q });
}

void tst_Engine::waitersHoldBackForEveryProcedure()
{
    // A short procedure ending beside a long one must not let a waiter in early.
    kestBranchManager *r = manager("R"_q, "<TestHold name='R1'/>"_q);
    kestBranchManager *longProc = manager("Long"_q, "<TestHold name='L' stop='ignore'/>"_q);
    kestBranchManager *shortProc = manager("Short"_q, "<TestMark name='S'/>"_q);
    kestBranchManager *waiter = manager("W"_q, "<TestMark name='W'/>"_q);
    r->run(CLICK);
    QTRY_VERIFY(probe.has("start:R1"_q));
    longProc->run(PROCEDURE);
    QTRY_VERIFY(probe.has("start:L"_q));
    waiter->run(CLICK);
    QTRY_VERIFY(!r->isBusy()); // stopped by the waiter
    shortProc->run(PROCEDURE);
    QTRY_VERIFY(!shortProc->isBusy());
    QVERIFY(probe.has("mark:S"_q));
    QCOMPARE(waitingCount(), 1); // the waiter stays put until the long one ends
    probe.release("L"_q);
    QTRY_VERIFY(probe.has("mark:W"_q));
    QVERIFY(probe.at("release:L"_q) < probe.at("mark:W"_q));
    QCOMPARE(m_owner->results(), QStringList({ "Short"_q, "Long"_q }));
}

void tst_Engine::nothingToRun_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("line"); // "" when the script runs

    QTest::newRow("empty ActionList") << "<ActionList/>"
                                      << "Empty Actionlist, throw away!";
    QTest::newRow("only unknown children") << "<ActionList><Nonsense><TestMark name='X'/></Nonsense></ActionList>"
                                           << "Empty Actionlist, throw away!";
    QTest::newRow("no element") << ""
                                << "Found no RootObject?! Error!!";
    QTest::newRow("unknown last element") << "<ActionList><TestMark name='X'/></ActionList><Nonsense/>"
                                          << "Found no RootObject?! Error!!";
    QTest::newRow("single action without children runs") << "<TestMark name='X'/>"
                                                         << "";
}

void tst_Engine::nothingToRun()
{
    QFETCH(QString, body);
    QFETCH(QString, line);
    kestBranchManager *m = manager("S"_q, body, nullptr, false);
    m->run(CLICK);
    QTRY_VERIFY(!m->isBusy());
    QCOMPARE(probe.has("mark:X"_q), line.isEmpty());
    if (line.isEmpty())
        return;
    QCOMPARE(probe.logCount(line), 1);
    QCOMPARE(probe.logCount("BranchManager::run::Thread -> Finished"_q), 0);
}

void tst_Engine::managerDeletedWithBranch_data()
{
    QTest::addColumn<QString>("state");
    QTest::newRow("running") << "running";
    QTest::newRow("waiting") << "waiting";
    QTest::newRow("ended, not yet collected") << "ended";
}

void tst_Engine::managerDeletedWithBranch()
{
    QFETCH(QString, state);
    kestBranchManager *blocker = manager("B"_q, "<TestHold name='B1' stop='ignore'/>"_q);
    kestBranchManager *m = manager("M"_q, "<TestHold name='M1' stop='ignore'/><TestMark name='after'/>"_q);
    QSignalSpy breaks(m, &kestBranchManager::breakall);

    if (state == "waiting"_q) {
        blocker->run(SELECT);
        QTRY_VERIFY(probe.has("start:B1"_q));
        m->run(CLICK);
        QTRY_COMPARE(waitingCount(), 1);
    } else {
        m->run(CLICK);
        QTRY_VERIFY(probe.has("start:M1"_q));
    }
    if (state == "ended"_q) {
        // Ended, but its queued finished() must not reach the manager: no events processed.
        probe.release("M1"_q);
        QVERIFY(probe.waitFor("mark:after"_q, 30000));
    }
    const int live = kestThread::liveCount();
    delete m;
    QCOMPARE(breaks.count(), 1);
    QCOMPARE(probe.logCount("Delete while thread is active?"_q), 1);

    // The branch runs on to its end and its thread object goes away by itself.
    probe.release("B1"_q);
    probe.release("M1"_q);
    QTRY_VERIFY(probe.has("mark:after"_q));
    QTRY_COMPARE(kestThread::liveCount(), live - (state == "waiting"_q ? 2 : 1));
}

void tst_Engine::deleteLaterByNameKeepsManager()
{
    // Code that defers the manager's deletion by name reaches the manager's own slot instead,
    // which must not collect the thread under the running branch.
    QPointer<kestBranchManager> m = manager("M"_q, "<TestHold name='M1' stop='ignore'/>"_q);
    m->run(CLICK);
    QTRY_VERIFY(probe.has("start:M1"_q));
    QVERIFY(QMetaObject::invokeMethod(m, "deleteLater", Qt::QueuedConnection));
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(m && m->isBusy());
    probe.release("M1"_q);
    QTRY_VERIFY(!m->isBusy());
}

void tst_Engine::ownerDeleted_data()
{
    QTest::addColumn<bool>("duringDelivery");
    QTest::newRow("while its procedure runs") << false;
    QTest::newRow("while the result is delivered") << true;
}

void tst_Engine::ownerDeleted()
{
    // The GUI thread deletes an entity (and so its managers) while its procedure branch runs
    // beside a click: the result is not delivered, or a delivery in progress is waited for.
    QFETCH(bool, duringDelivery);
    auto *entity = new TestOwner("entity"_q, duringDelivery ? 200 : 0);
    kestBranchManager *click = manager("Click"_q, "<TestHold name='C1' stop='ignore'/>"_q);
    kestBranchManager *proc = manager("Proc"_q, "<TestHold name='P1' stop='ignore'/>"_q, entity);
    click->run(CLICK);
    QTRY_VERIFY(probe.has("start:C1"_q));
    if (duringDelivery)
        probe.release("P1"_q);
    proc->run(PROCEDURE);
    QTRY_VERIFY(probe.has((duringDelivery ? "handling:entity"_q : "start:P1"_q)));

    delete entity;
    QCOMPARE(probe.logCount("Delete while thread is active?"_q), 1);
    probe.release("P1"_q);
    QTRY_COMPARE(kestThread::liveCount(), 1); // the click's thread only
    QCOMPARE(procedureCount(), 0);
    if (duringDelivery)
        QVERIFY(
            probe.at("result:entity:Proc"_q) >= 0 && probe.at("result:entity:Proc"_q) < probe.at("destroyed:entity"_q));
    else
        QVERIFY(!probe.has("handling:entity"_q));
}

void tst_Engine::laterRequestThatArrivesFirstWins_data()
{
    QTest::addColumn<bool>("secondEnded");
    QTest::newRow("the later one still runs") << false;
    QTest::newRow("the later one has ended") << true;
}

void tst_Engine::laterRequestThatArrivesFirstWins()
{
    // Two clicks: the first one's thread is slow to build, so the second reaches the scheduler
    // first. The second was asked for last: the first must not run after or instead of it.
    QFETCH(bool, secondEnded);
    kestBranchManager *first = manager("First"_q, "<TestSlowBuild/><TestMark name='first'/>"_q);
    kestBranchManager *second = manager("Second"_q, "<TestMark name='second'/><TestHold name='S'/>"_q);
    first->run(CLICK);
    second->run(CLICK);
    QTRY_VERIFY(probe.has("start:S"_q));
    if (secondEnded) {
        probe.release("S"_q);
        QTRY_COMPARE(kestThread::liveCount(), 1);
    }
    probe.release("build"_q);
    QTRY_VERIFY(probe.logCount("Thread: overtaken by a newer request"_q) == 1);
    probe.release("S"_q);
    QTRY_COMPARE(kestThread::liveCount(), 0);
    QVERIFY(!probe.has("mark:first"_q));
    QVERIFY(probe.has("release:S"_q));
}

void tst_Engine::shutdownStopsEveryBranch()
{
    kestBranchManager *r = manager("R"_q, "<TestHold name='R1'/><TestMark name='R'/>"_q);
    kestBranchManager *p = manager("P"_q, "<TestHold name='P1'/><TestMark name='P'/>"_q);
    kestBranchManager *stubborn = manager("S"_q, "<TestHold name='S1' stop='ignore'/>"_q);
    r->run(SELECT);
    QTRY_VERIFY(probe.has("start:R1"_q));
    p->run(PROCEDURE);
    QTRY_VERIFY(probe.has("start:P1"_q));
    stubborn->run(CLICK); // stops R, then waits behind P
    QTRY_VERIFY(!r->isBusy());
    QCOMPARE(waitingCount(), 1);

    QVERIFY(kestThread::shutdownAll(5000));
    QVERIFY(probe.has("stop:P1"_q));
    QVERIFY(!probe.has("mark:P"_q));
    QVERIFY(!probe.has("start:S1"_q)); // the waiter left without running

    // A branch that ignores stop requests makes shutdown report the timeout.
    QTRY_VERIFY(!stubborn->isBusy());
    stubborn->run(CLICK);
    QTRY_VERIFY(probe.has("start:S1"_q));
    QVERIFY(!kestThread::shutdownAll(100));
    probe.release("S1"_q);
    QVERIFY(kestThread::shutdownAll(5000));
}

void tst_Engine::buildTreeForCaller()
{
    kestBranchManager *m = manager("Proc"_q, "<TestMark name='X'/><Text>a</Text>"_q);
    const std::unique_ptr<kestObject> first(m->buildTree());
    const std::unique_ptr<kestObject> second(m->buildTree());
    QVERIFY(first && second && first != second);
    QCOMPARE(first->childActionCount(), 2);
    QVERIFY(!first->parent());
    QCOMPARE(first->thread(), QThread::currentThread());
    QCOMPARE(probe.logCount("ActionList"_q), 2); // the procedure lookup names each root tag
    QVERIFY(!m->isBusy());
    QVERIFY(!probe.has("mark:X"_q));
}

void tst_Engine::childActionsAmongOtherChildren()
{
    // Lists walk their children by index; children that are not actions must neither shift
    // nor hide the actions, before and after they go away.
    const std::unique_ptr<kestObject> list = buildBody("<ActionList><Text>a</Text><Text>b</Text></ActionList>"_q);
    QVERIFY(list);
    auto arguments = [&list] {
        QStringList values;
        for (int i = 0; i <= list->childActionCount(); ++i)
            values << list->argument(i);
        return values.join(QLatin1Char(','));
    };
    QCOMPARE(arguments(), "a,b,"_q);
    auto *timer = new QTimer(list.get());
    QCOMPARE(arguments(), "a,b,"_q);
    new TestEcho(list.get());
    QCOMPARE(arguments(), "a,b,echo,"_q);
    delete timer;
    QCOMPARE(arguments(), "a,b,echo,"_q);
    QVERIFY(!list->childAction(3) && !list->childAction(-1));
}

QTEST_GUILESS_MAIN(tst_Engine)
#include "tst_engine.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"
#include "kestbranchmanager.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "kestthread.h"
#include "scriptbuilder.h"
#include "testactions.h"

#include <QDomDocument>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// What the probes and owners did, in order, from every thread.
struct Journal
{
    static QMutex lock;
    static QStringList events;

    static void add(const QString &event)
    {
        QMutexLocker locker(&lock);
        events << event;
    }
    static QStringList all()
    {
        QMutexLocker locker(&lock);
        return events;
    }
    static bool has(const QString &event) { return all().contains(event); }
    static int indexOf(const QString &event) { return all().indexOf(event); }
    static int count(const QString &event) { return all().count(event); }
};
QMutex Journal::lock;
QStringList Journal::events;

// Holds released by the test, by tag.
struct Gates
{
    static QMutex lock;
    static QSet<QString> released;
    static bool all;

    static void release(const QString &tag)
    {
        QMutexLocker locker(&lock);
        released.insert(tag);
    }
    static void releaseAll()
    {
        QMutexLocker locker(&lock);
        all = true;
    }
    static bool isReleased(const QString &tag)
    {
        QMutexLocker locker(&lock);
        return all || released.contains(tag);
    }
    static void reset()
    {
        QMutexLocker locker(&lock);
        released.clear();
        all = false;
    }
};
QMutex Gates::lock;
QSet<QString> Gates::released;
bool Gates::all = false;

// The debug lines of the engine, captured from every thread.
struct Logs
{
    static QMutex lock;
    static QStringList lines;
    static QtMessageHandler previous;

    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg) {
            previous(type, context, message);
            return;
        }
        QMutexLocker locker(&lock);
        lines << message;
    }
    static QStringList all()
    {
        QMutexLocker locker(&lock);
        return lines;
    }
    static int count(const QString &line) { return all().count(line); }
    static int countStartingWith(const QString &prefix)
    {
        int n = 0;
        for (const QString &line : all())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }
    static void clear()
    {
        QMutexLocker locker(&lock);
        lines.clear();
    }
};
QMutex Logs::lock;
QStringList Logs::lines;
QtMessageHandler Logs::previous = nullptr;

// Waits in a local event loop, as the media actions do, until the root's loopStop() (unless the
// element says stop="ignore") or until the test releases its tag. Journal: "start:TAG" once it
// listens, then "stop:TAG" or "release:TAG".
class TestHold : public kestObject
{
    Q_OBJECT
public:
    QString execute() override
    {
        if (!passesSkipTest())
            return QString();
        const QString tag = objectName();
        QEventLoop loop;
        QString how;
        if (element.attribute(QStringLiteral("stop")) != QLatin1String("ignore")) {
            connect(root(), &kestObject::loopStop, &loop, [&] {
                how = QStringLiteral("stop");
                loop.quit();
            });
        }
        QTimer gate;
        connect(&gate, &QTimer::timeout, &loop, [&] {
            if (Gates::isReleased(tag)) {
                how = QStringLiteral("release");
                loop.quit();
            }
        });
        gate.start(2);
        Journal::add(QStringLiteral("start:") + tag);
        loop.exec();
        Journal::add(how + QLatin1Char(':') + tag);
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

// Journal "mark:TAG" when it runs. test="run" or test="skip" makes the stop test of that name
// first, as real actions do. Notes whether its branch was registered and whether the scheduler
// lock was free while it executed.
class TestMark : public kestObject
{
    Q_OBJECT
public:
    struct Seen
    {
        bool registered = false;
        bool lockFree = false;
        bool onWorker = false;
    };
    static QMutex lock;
    static QHash<QString, Seen> seen;

    QString execute() override
    {
        const QString test = element.attribute(QStringLiteral("test"));
        if (test == QLatin1String("run") && !passesRunTest())
            return QString();
        if (test == QLatin1String("skip") && !passesSkipTest())
            return QString();
        Seen s;
        s.registered = statRunningObject.load() == root();
        s.lockFree = statSchedulerLock.tryLock(5000);
        if (s.lockFree)
            statSchedulerLock.unlock();
        s.onWorker = QThread::currentThread() != QCoreApplication::instance()->thread();
        {
            QMutexLocker locker(&lock);
            seen.insert(objectName(), s);
        }
        Journal::add(QStringLiteral("mark:") + objectName());
        return QString();
    }

    static Seen of(const QString &tag)
    {
        QMutexLocker locker(&lock);
        return seen.value(tag);
    }
};
QMutex TestMark::lock;
QHash<QString, TestMark::Seen> TestMark::seen;

// An entity or sub-project as the engine sees it: something with handleResults(QString).
// Journal "result:OWNER:VALUE" per result; with a delay, the call lingers so that the test
// can delete the owner meanwhile.
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
        Journal::add(QStringLiteral("destroyed:") + objectName());
    }

    QStringList results() const
    {
        QMutexLocker locker(&m_lock);
        return m_results;
    }
    bool calledOnWorker() const
    {
        QMutexLocker locker(&m_lock);
        return m_onWorker;
    }

public slots:
    void handleResults(QString value)
    {
        Journal::add(QStringLiteral("handling:") + objectName());
        if (m_delayMs)
            QThread::msleep(m_delayMs);
        QMutexLocker locker(&m_lock);
        m_results << value;
        m_onWorker = QThread::currentThread() != thread();
        Journal::add(QStringLiteral("result:") + objectName() + QLatin1Char(':') + value);
    }

private:
    const int m_delayMs;
    mutable QMutex m_lock;
    QStringList m_results;
    bool m_onWorker = false;
};

// An action parented from its constructor: it is not yet an action when its parent hears of it.
class TestEcho : public kestObject
{
    Q_OBJECT
public:
    explicit TestEcho(QObject *parent)
        : kestObject(parent)
    { }
    QString execute() override { return QStringLiteral("echo"); }
};

enum Outcome {
    RunsRegistered, // runs at once and is registered
    Dropped, // skipped; the running branch goes on undisturbed
    ProcedureAlongside, // runs beside the running branch; its owner gets the name at the end
    Alongside, // runs beside the running branch, unregistered, no result
    Preempts, // the running branch is stopped, the newcomer runs after it
    CutsShort, // the running procedure's wait ends, it goes on; the newcomer runs after it
};

struct SchedulerState
{
    bool scriptRunning;
    kestObject *runningObject;
    bool branchWaiting;
    int procedures;
    int waiting;
};

SchedulerState schedulerState()
{
    QMutexLocker locker(&statSchedulerLock);
    return { statScriptRunning.load(), statRunningObject.load(), statBranchWaiting, statProcedureRunning,
        int(statWaitingObjects.size()) };
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
    void ownerDeletedWhileProcedureRuns();
    void ownerDeletedDuringDelivery();
    void shutdownStopsEveryBranch();
    void buildTreeForCaller();
    void childActionsAmongOtherChildren();

private:
    kestBranchManager *manager(const QString &name, const QString &body, QObject *owner = nullptr);

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<TestOwner> m_owner;
    QList<QDomDocument> m_documents;
};

void tst_Engine::initTestCase()
{
    Logs::previous = qInstallMessageHandler(Logs::handler);
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    kestScriptBuilder::registerAction<TestHold>(QStringLiteral("TestHold"));
    kestScriptBuilder::registerAction<TestRecording>(QStringLiteral("TestRecording"));
    kestScriptBuilder::registerAction<TestMark>(QStringLiteral("TestMark"));
}

void tst_Engine::cleanupTestCase()
{
    Gates::releaseAll();
    QVERIFY(kestThread::shutdownAll(10000));
    qInstallMessageHandler(Logs::previous);
}

void tst_Engine::init()
{
    {
        QMutexLocker locker(&Journal::lock);
        Journal::events.clear();
    }
    {
        QMutexLocker locker(&TestMark::lock);
        TestMark::seen.clear();
    }
    Gates::reset();
    Logs::clear();
    m_owner = std::make_unique<TestOwner>(QStringLiteral("owner"));
}

void tst_Engine::cleanup()
{
    Gates::releaseAll();
    QVERIFY(kestThread::shutdownAll(10000));
    m_owner.reset();
    QTRY_COMPARE(kestThread::liveCount(), 0);
    m_documents.clear();
    // Every branch has left the scheduler.
    const SchedulerState s = schedulerState();
    QVERIFY(!s.scriptRunning);
    QVERIFY(!s.runningObject);
    QCOMPARE(s.procedures, 0);
    QCOMPARE(s.waiting, 0);
    QVERIFY(!s.branchWaiting);
}

kestBranchManager *tst_Engine::manager(const QString &name, const QString &body, QObject *owner)
{
    QDomDocument doc;
    const bool parsed = doc.setContent(QStringLiteral("<Code>") + name + body + QStringLiteral("</Code>"));
    Q_ASSERT(parsed);
    Q_UNUSED(parsed)
    m_documents << doc;
    return new kestBranchManager(owner ? owner : m_owner.get(), doc.documentElement(), name);
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

    const QString first = running == RECORD ? QStringLiteral("TestRecording") : QStringLiteral("TestHold");
    kestBranchManager *r = manager(QStringLiteral("R"),
        QStringLiteral("<ActionList><%1 name=\"R1\"/><TestHold name=\"R2\" stop=\"ignore\"/></ActionList>").arg(first));
    kestBranchManager *n = manager(QStringLiteral("N"),
        QStringLiteral("<ActionList><TestMark name=\"N\"/><TestHold name=\"N2\" stop=\"ignore\"/></ActionList>"));

    kestObject *runningRoot = nullptr;
    if (running >= 0) {
        r->run(running == RECORD ? CLICK : Prio(running));
        QTRY_VERIFY(Journal::has(QStringLiteral("start:R1")));
        runningRoot = statRunningObject.load();
        QVERIFY(runningRoot);
        QCOMPARE(int(runningRoot->prio.load()), running);
    }
    n->run(Prio(incoming));

    switch (outcome) {
    case RunsRegistered:
        QTRY_VERIFY(Journal::has(QStringLiteral("mark:N")));
        QVERIFY(TestMark::of(QStringLiteral("N")).registered);
        QVERIFY(TestMark::of(QStringLiteral("N")).onWorker);
        QVERIFY(TestMark::of(QStringLiteral("N")).lockFree);
        QCOMPARE(int(statRunningObject.load()->prio.load()), incoming);
        break;
    case Dropped:
        QTRY_VERIFY(!n->isBusy());
        QVERIFY(!Journal::has(QStringLiteral("mark:N")));
        QVERIFY(!runningRoot->skipObject.load());
        QCOMPARE(statRunningObject.load(), runningRoot);
        QCOMPARE(Logs::countStartingWith(QStringLiteral("Run with Prio")), 0);
        break;
    case ProcedureAlongside:
        QTRY_VERIFY(Journal::has(QStringLiteral("mark:N")));
        QVERIFY(!TestMark::of(QStringLiteral("N")).registered);
        QCOMPARE(statRunningObject.load(), runningRoot);
        QCOMPARE(schedulerState().procedures, 1);
        QCOMPARE(Logs::count(QStringLiteral("Thread: Prio Procedure!")), 1);
        QVERIFY(m_owner->results().isEmpty());
        Gates::release(QStringLiteral("N2"));
        QTRY_COMPARE(m_owner->results(), QStringList { QStringLiteral("N") });
        QVERIFY(m_owner->calledOnWorker());
        QCOMPARE(Logs::count(QStringLiteral("Thread: Prio Procedure: Run END")), 1);
        QTRY_VERIFY(!n->isBusy());
        QCOMPARE(schedulerState().procedures, 0);
        QVERIFY(!Journal::has(QStringLiteral("stop:R1")));
        QCOMPARE(statRunningObject.load(), runningRoot);
        break;
    case Alongside:
        QTRY_VERIFY(Journal::has(QStringLiteral("mark:N")));
        QVERIFY(!TestMark::of(QStringLiteral("N")).registered);
        Gates::release(QStringLiteral("N2"));
        QTRY_VERIFY(!n->isBusy());
        QVERIFY(!Journal::has(QStringLiteral("stop:R1")));
        QCOMPARE(statRunningObject.load(), runningRoot);
        QVERIFY(!runningRoot->skipObject.load());
        QVERIFY(m_owner->results().isEmpty());
        break;
    case Preempts:
        QTRY_VERIFY(Journal::has(QStringLiteral("mark:N")));
        QVERIFY(Journal::indexOf(QStringLiteral("stop:R1")) >= 0);
        QVERIFY(Journal::indexOf(QStringLiteral("stop:R1")) < Journal::indexOf(QStringLiteral("mark:N")));
        QVERIFY(!Journal::has(QStringLiteral("start:R2"))); // the stopped branch went no further
        QVERIFY(TestMark::of(QStringLiteral("N")).registered);
        QCOMPARE(Logs::count(QStringLiteral("loopStop!")), 1);
        QCOMPARE(Logs::countStartingWith(QStringLiteral("Index: ")), 1);
        QTRY_VERIFY(!r->isBusy());
        break;
    case CutsShort:
        QTRY_VERIFY(Journal::has(QStringLiteral("start:R2")));
        QVERIFY(Journal::has(QStringLiteral("stop:R1")));
        QCOMPARE(Logs::count(QStringLiteral("loopStop Proc!")), 1);
        QVERIFY(!runningRoot->skipObject.load());
        // The newcomer keeps waiting while the procedure goes on; nothing to await here.
        QTest::qWait(100);
        QVERIFY(!Journal::has(QStringLiteral("mark:N")));
        Gates::release(QStringLiteral("R2"));
        QTRY_VERIFY(Journal::has(QStringLiteral("mark:N")));
        QVERIFY(Journal::indexOf(QStringLiteral("release:R2")) < Journal::indexOf(QStringLiteral("mark:N")));
        QVERIFY(TestMark::of(QStringLiteral("N")).registered);
        break;
    }
}

void tst_Engine::sameScriptTwice()
{
    // Two clicks on one entity: the second is dropped while the first one's branch is alive.
    kestBranchManager *click = manager(QStringLiteral("Script_Click"),
        QStringLiteral("<ActionList><TestMark name=\"C\"/><TestHold name=\"C1\" stop=\"ignore\"/></ActionList>"));
    click->run(CLICK);
    click->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:C1")));
    click->run(CLICK);
    Gates::release(QStringLiteral("C1"));
    QTRY_VERIFY(!click->isBusy());
    QCOMPARE(Journal::count(QStringLiteral("mark:C")), 1);
    QCOMPARE(Logs::count(QStringLiteral("BranchManager::run         ->Script_Click priority: 3")), 1);
    QCOMPARE(Logs::count(QStringLiteral("BranchManager::run::Thread -> Start")), 1);
    QCOMPARE(Logs::count(QStringLiteral("BranchManager::run::Thread -> Finished")), 1);
    QCOMPARE(kestThread::liveCount(), 0);

    // Idle again: the next click runs.
    click->run(CLICK);
    QTRY_COMPARE(Journal::count(QStringLiteral("mark:C")), 2);
}

void tst_Engine::threeWaitersOnlyNewestRuns()
{
    kestBranchManager *a = manager(
        QStringLiteral("A"), QStringLiteral("<ActionList><TestHold name=\"A1\" stop=\"ignore\"/></ActionList>"));
    a->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:A1")));
    QList<kestBranchManager *> waiters;
    for (const char *tag : { "B", "C", "D" }) {
        const QString name = QLatin1String(tag);
        waiters << manager(name, QStringLiteral("<ActionList><TestMark name=\"%1\"/></ActionList>").arg(name));
        waiters.last()->run(CLICK);
        // One at a time, so that each is the newest when it arrives.
        QTRY_COMPARE(schedulerState().waiting, waiters.size());
    }
    QVERIFY(schedulerState().branchWaiting);

    Gates::release(QStringLiteral("A1"));
    QTRY_VERIFY(Journal::has(QStringLiteral("mark:D")));
    for (kestBranchManager *waiter : waiters)
        QTRY_VERIFY(!waiter->isBusy());
    QVERIFY(!Journal::has(QStringLiteral("mark:B")));
    QVERIFY(!Journal::has(QStringLiteral("mark:C")));
    QVERIFY(TestMark::of(QStringLiteral("D")).registered);
    QVERIFY(!schedulerState().branchWaiting);
}

void tst_Engine::lowerWaiterRunsAfterHigherWaiter()
{
    // A hover waits behind a waiting click it may not stop; both run, none is left waiting.
    kestBranchManager *r = manager(
        QStringLiteral("R"), QStringLiteral("<ActionList><TestHold name=\"R1\" stop=\"ignore\"/></ActionList>"));
    kestBranchManager *click = manager(QStringLiteral("Click"),
        QStringLiteral(
            "<ActionList><TestMark name=\"click\"/><TestHold name=\"click1\" stop=\"ignore\"/></ActionList>"));
    kestBranchManager *hover
        = manager(QStringLiteral("Hover"), QStringLiteral("<ActionList><TestMark name=\"hover\"/></ActionList>"));
    r->run(SELECT);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:R1")));
    click->run(CLICK);
    QTRY_COMPARE(schedulerState().waiting, 1);
    hover->run(SELECT);
    QTRY_COMPARE(schedulerState().waiting, 2);

    Gates::release(QStringLiteral("R1"));
    QTRY_VERIFY(Journal::has(QStringLiteral("mark:click")));
    Gates::release(QStringLiteral("click1"));
    QTRY_VERIFY(Journal::has(QStringLiteral("mark:hover")));
    QTRY_VERIFY(!hover->isBusy());
}

void tst_Engine::procedureOutlivesRegisteredBranch()
{
    kestBranchManager *click = manager(
        QStringLiteral("Click"), QStringLiteral("<ActionList><TestHold name=\"C1\" stop=\"ignore\"/></ActionList>"));
    kestBranchManager *proc = manager(QStringLiteral("Proc"),
        QStringLiteral(
            "<ActionList><TestHold name=\"P1\" stop=\"ignore\"/>"
            "<TestMark name=\"runTest\" test=\"run\"/><TestMark name=\"skipTest\" test=\"skip\"/></ActionList>"));
    click->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:C1")));
    proc->run(PROCEDURE);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:P1")));

    Gates::release(QStringLiteral("C1"));
    QTRY_VERIFY(!click->isBusy());
    QVERIFY(!statRunningObject.load());
    QVERIFY(!statScriptRunning.load());

    Gates::release(QStringLiteral("P1"));
    QTRY_VERIFY(!proc->isBusy());
    QVERIFY(!Journal::has(QStringLiteral("mark:runTest")));
    QVERIFY(Journal::has(QStringLiteral("mark:skipTest")));
    QCOMPARE(m_owner->results(), QStringList { QStringLiteral("Proc") });
}

void tst_Engine::waitersHoldBackForEveryProcedure()
{
    // A short procedure ending beside a long one must not let a waiter in early.
    kestBranchManager *r
        = manager(QStringLiteral("R"), QStringLiteral("<ActionList><TestHold name=\"R1\"/></ActionList>"));
    kestBranchManager *longProc = manager(
        QStringLiteral("Long"), QStringLiteral("<ActionList><TestHold name=\"L\" stop=\"ignore\"/></ActionList>"));
    kestBranchManager *shortProc
        = manager(QStringLiteral("Short"), QStringLiteral("<ActionList><TestMark name=\"S\"/></ActionList>"));
    kestBranchManager *waiter
        = manager(QStringLiteral("W"), QStringLiteral("<ActionList><TestMark name=\"W\"/></ActionList>"));
    r->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:R1")));
    longProc->run(PROCEDURE);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:L")));
    waiter->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("stop:R1")));
    QTRY_VERIFY(!r->isBusy());
    shortProc->run(PROCEDURE);
    QTRY_VERIFY(!shortProc->isBusy());
    QVERIFY(Journal::has(QStringLiteral("mark:S")));
    QCOMPARE(schedulerState().procedures, 1);

    QTest::qWait(100); // the waiter must stay put: nothing to await
    QVERIFY(!Journal::has(QStringLiteral("mark:W")));
    Gates::release(QStringLiteral("L"));
    QTRY_VERIFY(Journal::has(QStringLiteral("mark:W")));
    QVERIFY(Journal::indexOf(QStringLiteral("release:L")) < Journal::indexOf(QStringLiteral("mark:W")));
    QCOMPARE(m_owner->results(), QStringList({ QStringLiteral("Short"), QStringLiteral("Long") }));
}

void tst_Engine::nothingToRun_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("line"); // "" when the script runs

    QTest::newRow("empty ActionList") << "<ActionList/>"
                                      << "Empty Actionlist, throw away!";
    QTest::newRow("only unknown children") << "<ActionList><Nonsense><TestMark name=\"X\"/></Nonsense></ActionList>"
                                           << "Empty Actionlist, throw away!";
    QTest::newRow("no element") << ""
                                << "Found no RootObject?! Error!!";
    QTest::newRow("unknown last element") << "<ActionList><TestMark name=\"X\"/></ActionList><Nonsense/>"
                                          << "Found no RootObject?! Error!!";
    QTest::newRow("single action without children runs") << "<TestMark name=\"X\"/>"
                                                         << "";
}

void tst_Engine::nothingToRun()
{
    QFETCH(QString, body);
    QFETCH(QString, line);
    const int counter = [] {
        QMutexLocker locker(&statSchedulerLock);
        return statWaitCounter;
    }();
    kestBranchManager *m = manager(QStringLiteral("S"), body);
    m->run(CLICK);
    QTRY_VERIFY(!m->isBusy());
    if (line.isEmpty()) {
        QVERIFY(Journal::has(QStringLiteral("mark:X")));
        return;
    }
    QCOMPARE(Logs::count(line), 1);
    QVERIFY(!Journal::has(QStringLiteral("mark:X")));
    QCOMPARE(Logs::count(QStringLiteral("BranchManager::run::Thread -> Finished")), 0);
    const SchedulerState s = schedulerState();
    QVERIFY(!s.scriptRunning);
    QVERIFY(!s.branchWaiting);
    QMutexLocker locker(&statSchedulerLock);
    QCOMPARE(statWaitCounter, counter);
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
    kestBranchManager *blocker = manager(
        QStringLiteral("B"), QStringLiteral("<ActionList><TestHold name=\"B1\" stop=\"ignore\"/></ActionList>"));
    kestBranchManager *m = manager(QStringLiteral("M"),
        QStringLiteral("<ActionList><TestHold name=\"M1\" stop=\"ignore\"/><TestMark name=\"after\"/></ActionList>"));
    QSignalSpy breaks(m, &kestBranchManager::breakall);

    if (state == QLatin1String("waiting")) {
        blocker->run(SELECT);
        QTRY_VERIFY(Journal::has(QStringLiteral("start:B1")));
        m->run(CLICK);
        QTRY_COMPARE(schedulerState().waiting, 1);
    } else {
        m->run(CLICK);
        QTRY_VERIFY(Journal::has(QStringLiteral("start:M1")));
    }
    if (state == QLatin1String("ended")) {
        Gates::release(QStringLiteral("M1"));
        // Ended, but its queued finished() must not reach the manager: no events processed.
        QElapsedTimer clock;
        clock.start();
        while (!Journal::has(QStringLiteral("mark:after")) && clock.elapsed() < 5000)
            QThread::msleep(1);
        QVERIFY(Journal::has(QStringLiteral("mark:after")));
    }
    const int before = kestThread::liveCount();
    delete m;
    QCOMPARE(breaks.count(), 1);
    QCOMPARE(Logs::count(QStringLiteral("Delete while thread is active?")), 1);

    // The branch runs on to its end and its thread object goes away by itself.
    Gates::release(QStringLiteral("B1"));
    Gates::release(QStringLiteral("M1"));
    QTRY_VERIFY(Journal::has(QStringLiteral("mark:after")));
    QTRY_COMPARE(kestThread::liveCount(), before - 1 - (state == QLatin1String("waiting") ? 1 : 0));
    QVERIFY(!statScriptRunning.load());
}

void tst_Engine::deleteLaterByNameKeepsManager()
{
    // Code that defers the manager's deletion by name reaches the manager's own slot instead.
    QPointer<kestBranchManager> m = manager(
        QStringLiteral("M"), QStringLiteral("<ActionList><TestHold name=\"M1\" stop=\"ignore\"/></ActionList>"));
    m->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:M1")));
    QVERIFY(QMetaObject::invokeMethod(m, "deleteLater", Qt::QueuedConnection));
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(m);
    QVERIFY(m->isBusy()); // the running thread was not collected under the branch
    Gates::release(QStringLiteral("M1"));
    QTRY_VERIFY(!m->isBusy());
    QVERIFY(m);
}

void tst_Engine::ownerDeletedWhileProcedureRuns()
{
    auto *entity = new TestOwner(QStringLiteral("entity"));
    kestBranchManager *click = manager(
        QStringLiteral("Click"), QStringLiteral("<ActionList><TestHold name=\"C1\" stop=\"ignore\"/></ActionList>"));
    kestBranchManager *proc = manager(QStringLiteral("Proc"),
        QStringLiteral("<ActionList><TestHold name=\"P1\" stop=\"ignore\"/></ActionList>"), entity);
    click->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:C1")));
    proc->run(PROCEDURE);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:P1")));

    delete entity; // and with it the procedure's manager
    QCOMPARE(Logs::count(QStringLiteral("Delete while thread is active?")), 1);
    Gates::release(QStringLiteral("P1"));
    QTRY_COMPARE(kestThread::liveCount(), 1); // the click's thread only
    QCOMPARE(Logs::count(QStringLiteral("Thread: Prio Procedure: Run END")), 1);
    QVERIFY(!Journal::has(QStringLiteral("handling:entity")));
    QCOMPARE(schedulerState().procedures, 0);
}

void tst_Engine::ownerDeletedDuringDelivery()
{
    // The GUI thread deletes the owner while the worker is inside its handleResults: the
    // deletion waits for the call to return.
    auto *entity = new TestOwner(QStringLiteral("slow"), 200);
    kestBranchManager *click = manager(
        QStringLiteral("Click"), QStringLiteral("<ActionList><TestHold name=\"C1\" stop=\"ignore\"/></ActionList>"));
    kestBranchManager *proc
        = manager(QStringLiteral("Proc"), QStringLiteral("<ActionList><TestMark name=\"P\"/></ActionList>"), entity);
    click->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:C1")));
    proc->run(PROCEDURE);
    QTRY_VERIFY(Journal::has(QStringLiteral("handling:slow")));
    delete entity;
    const int delivered = Journal::indexOf(QStringLiteral("result:slow:Proc"));
    QVERIFY(delivered >= 0);
    QVERIFY(delivered < Journal::indexOf(QStringLiteral("destroyed:slow")));
    QTRY_COMPARE(kestThread::liveCount(), 1);
}

void tst_Engine::shutdownStopsEveryBranch()
{
    kestBranchManager *r = manager(
        QStringLiteral("R"), QStringLiteral("<ActionList><TestHold name=\"R1\"/><TestMark name=\"R\"/></ActionList>"));
    kestBranchManager *p = manager(
        QStringLiteral("P"), QStringLiteral("<ActionList><TestHold name=\"P1\"/><TestMark name=\"P\"/></ActionList>"));
    kestBranchManager *stubborn = manager(
        QStringLiteral("S"), QStringLiteral("<ActionList><TestHold name=\"S1\" stop=\"ignore\"/></ActionList>"));
    r->run(SELECT);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:R1")));
    p->run(PROCEDURE);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:P1")));
    stubborn->run(CLICK); // waits behind R, and stops it
    QTRY_VERIFY(Journal::has(QStringLiteral("stop:R1")));
    QTRY_COMPARE(schedulerState().waiting, 1);

    // P still holds the waiter back; shutdown ends both without letting the waiter run.
    QVERIFY(kestThread::shutdownAll(5000));
    QVERIFY(Journal::has(QStringLiteral("stop:P1")));
    QVERIFY(!Journal::has(QStringLiteral("start:S1")));
    QVERIFY(!Journal::has(QStringLiteral("mark:P")));

    // A branch that ignores stop requests makes shutdown report the timeout.
    QTRY_VERIFY(!stubborn->isBusy());
    stubborn->run(CLICK);
    QTRY_VERIFY(Journal::has(QStringLiteral("start:S1")));
    QVERIFY(!kestThread::shutdownAll(100));
    Gates::release(QStringLiteral("S1"));
    QVERIFY(kestThread::shutdownAll(5000));
}

void tst_Engine::buildTreeForCaller()
{
    kestBranchManager *m = manager(
        QStringLiteral("Proc"), QStringLiteral("<ActionList><TestMark name=\"X\"/><Text>a</Text></ActionList>"));
    std::unique_ptr<kestObject> first(m->buildTree());
    std::unique_ptr<kestObject> second(m->buildTree());
    QVERIFY(first && second && first != second);
    QCOMPARE(first->childActionCount(), 2);
    QVERIFY(!first->parent());
    QCOMPARE(first->thread(), QThread::currentThread());
    QCOMPARE(Logs::count(QStringLiteral("ActionList")), 2); // the procedure lookup names each root tag
    QVERIFY(!m->isBusy());
    QVERIFY(!Journal::has(QStringLiteral("mark:X")));
}

void tst_Engine::childActionsAmongOtherChildren()
{
    // Lists walk their children by index; children that are not actions must neither shift
    // nor hide the actions, before and after they go away.
    const std::unique_ptr<kestObject> list
        = buildBody(QStringLiteral("<ActionList><Text>a</Text><Text>b</Text></ActionList>"));
    QVERIFY(list);
    auto arguments = [&list] {
        QStringList values;
        for (int i = 0; i <= list->childActionCount(); ++i)
            values << list->argument(i);
        return values.join(QLatin1Char(','));
    };
    QCOMPARE(arguments(), QStringLiteral("a,b,"));

    auto *timer = new QTimer(list.get());
    QCOMPARE(arguments(), QStringLiteral("a,b,"));
    new TestEcho(list.get());
    QCOMPARE(arguments(), QStringLiteral("a,b,echo,"));
    delete timer;
    QCOMPARE(arguments(), QStringLiteral("a,b,echo,"));
    QVERIFY(!list->childAction(3));
    QVERIFY(!list->childAction(-1));
}

QTEST_GUILESS_MAIN(tst_Engine)
#include "tst_engine.moc"

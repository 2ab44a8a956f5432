// SPDX-License-Identifier: GPL-3.0-or-later
#include "controlflow.h"
#include "kestapplication.h"
#include "kestbranchmanager.h"
#include "kestscheduler.h"
#include "kestthread.h"
#include "logcapture.h"
#include "scriptbuilder.h"
#include "testactions.h"

#include <QDomDocument>
#include <QtTest>

#include <memory>

namespace {

// The owner of the branches: any object with this slot.
class Owner : public QObject
{
    Q_OBJECT
public:
    ~Owner() override { kestBranchManager::detachOwner(this); }
public slots:
    void handleResults(QString) { }
};

const QString Procedures = QStringLiteral(
    "<Procedures>"
    "<Code>Forever<ActionList><TestRecord>procedure</TestRecord><Wait><Number>600000</Number></Wait>"
    "<TestRecord>procedure goes on</TestRecord><Wait><Number>600000</Number></Wait></ActionList></Code>"
    "<Code>Again<ActionList><CallProcedure><Text>Again</Text></CallProcedure></ActionList></Code>"
    "</Procedures>");

} // namespace

// Stop requests reach scripts on their worker threads whatever they are doing, and a course
// cannot nest procedure calls without end.
class tst_Stops : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void stopReachesWorker_data();
    void stopReachesWorker();
    void selfCallingProcedureIsCapped();

private:
    kestBranchManager *manager(const QString &name, const QString &list);
    // Starts a script and waits until its first TestRecord ran.
    void start(kestBranchManager *branch, Prio prio, const QString &first);

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<Owner> m_owner;
    QList<QDomDocument> m_documents;
};

void tst_Stops::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    QDomDocument procedures;
    QVERIFY(procedures.setContent(Procedures));
    m_app->setProcedureSource(procedureSource(procedures));
    m_owner = std::make_unique<Owner>();
}

void tst_Stops::cleanup()
{
    QVERIFY(kestThread::shutdownAll(10000));
    QTRY_COMPARE(kestThread::liveCount(), 0);
    TestRecord::clearJournal();
}

kestBranchManager *tst_Stops::manager(const QString &name, const QString &list)
{
    return branchManager(
        m_owner.get(), name, QStringLiteral("<ActionList>") + list + QStringLiteral("</ActionList>"), m_documents);
}

void tst_Stops::start(kestBranchManager *branch, Prio prio, const QString &first)
{
    branch->run(prio);
    QTRY_VERIFY(TestRecord::journal().contains(first));
}

void tst_Stops::stopReachesWorker_data()
{
    QTest::addColumn<QString>("signal");
    QTest::addColumn<int>("prio");
    QTest::addColumn<QString>("body");

    const QString sleeps = QStringLiteral("<TestRecord>begin</TestRecord><Wait><Number>600000</Number></Wait>"
                                          "<TestRecord>after</TestRecord>");
    // The step never reaches the end: only the stop test on every pass ends it.
    const QString loops = QStringLiteral("<TestRecord>begin</TestRecord><ForLoop><Number>0</Number><Number>1</Number>"
                                         "<Number>0</Number><Null/><Null/></ForLoop><TestRecord>after</TestRecord>");
    // A procedure called by name, waiting inside: the call shares the caller's stop flags.
    const QString calls = QStringLiteral("<CallProcedure><Text>Forever</Text></CallProcedure>");
    for (const char *signal : { "exitAll", "stopAll" }) {
        QTest::addRow("%s: click script in Wait", signal) << signal << int(CLICK) << sleeps;
        QTest::addRow("%s: procedure in Wait", signal) << signal << int(PROCEDURE) << sleeps;
    }
    QTest::newRow("exitAll: click script looping") << "exitAll" << int(CLICK) << loops;
    QTest::newRow("exitAll: procedure looping") << "exitAll" << int(PROCEDURE) << loops;
    // A procedure registered on its own: a click cuts its current wait short, the procedure
    // goes on to its next wait, and the click waits for its turn.
    QTest::newRow("click: lone procedure in Wait") << "click" << int(PROCEDURE) << sleeps;
    QTest::newRow("click: lone called procedure in Wait") << "click" << int(PROCEDURE) << calls;
}

void tst_Stops::stopReachesWorker()
{
    QFETCH(QString, signal);
    QFETCH(int, prio);
    QFETCH(QString, body);
    const bool click = signal == QLatin1String("click");
    // A registered click script keeps a procedure company, so that the procedure runs alongside.
    if (!click)
        start(manager(QStringLiteral("Click"),
                  QStringLiteral("<TestRecord>click</TestRecord><Wait><Number>600000</Number></Wait>")),
            CLICK, QStringLiteral("click"));
    const QString first
        = body.contains(QLatin1String("CallProcedure")) ? QStringLiteral("procedure") : QStringLiteral("begin");
    start(manager(QStringLiteral("Script"), body), Prio(prio), first);

    // Emitted here, on the GUI thread, while the worker sleeps or computes without an event loop.
    LogCapture logs;
    if (signal == QLatin1String("exitAll"))
        emit m_app->exitAll();
    else if (signal == QLatin1String("stopAll"))
        emit m_app->stopAll();
    else
        manager(QStringLiteral("Newcomer"), QStringLiteral("<TestRecord>newcomer</TestRecord>"))->run(CLICK);
    if (click) {
        const bool ends = first == QLatin1String("begin");
        const QString goesOn = ends ? QStringLiteral("after") : QStringLiteral("procedure goes on");
        QTRY_VERIFY_WITH_TIMEOUT(TestRecord::journal().contains(goesOn), 5000);
        QVERIFY(logs.messages().contains(QStringLiteral("loopStop Proc!")));
        if (ends) { // the newcomer runs once the procedure has ended
            QTRY_VERIFY_WITH_TIMEOUT(TestRecord::journal().contains(QStringLiteral("newcomer")), 5000);
            QVERIFY(TestRecord::journal().indexOf(goesOn) < TestRecord::journal().indexOf(QStringLiteral("newcomer")));
        } else {
            QVERIFY(!TestRecord::journal().contains(QStringLiteral("newcomer"))); // still waiting its turn
        }
        return;
    }
    const bool stopsProcedure = signal == QLatin1String("exitAll") || prio != PROCEDURE;
    if (stopsProcedure) {
        QTRY_COMPARE_WITH_TIMEOUT(kestThread::liveCount(), 0, 5000);
        QVERIFY(!TestRecord::journal().contains(QStringLiteral("after")));
    } else {
        // A procedure's wait is cut short and the procedure goes on.
        QTRY_VERIFY_WITH_TIMEOUT(TestRecord::journal().contains(QStringLiteral("after")), 5000);
    }
}

void tst_Stops::selfCallingProcedureIsCapped()
{
    LogCapture logs;
    start(manager(QStringLiteral("Click"),
              QStringLiteral("<TestRecord>begin</TestRecord><CallProcedure><Text>Again</Text></CallProcedure>"
                             "<TestRecord>after</TestRecord>")),
        CLICK, QStringLiteral("begin"));
    QTRY_VERIFY_WITH_TIMEOUT(TestRecord::journal().contains(QStringLiteral("after")), 20000);
    const QString capped = QStringLiteral("[LIB] CallProcedure: Again not called, calls nested %1 deep")
                               .arg(CallProcedure::MaxProcedureDepth);
    QTRY_VERIFY(logs.messages().contains(capped));
}

QTEST_MAIN(tst_Stops)
#include "tst_stops.moc"

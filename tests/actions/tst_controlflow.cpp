// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "logcapture.h"
#include "scriptbuilder.h"
#include "testactions.h"
#include "variablestore.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

class tst_ControlFlow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup() { statRunningObject = nullptr; }
    void branches_data();
    void branches();
    void stoppedBranches_data();
    void stoppedBranches();
    void endlessLoopStops();
    void callProcedure_data();
    void callProcedure();
    void exitCommand();
    void wait_data();
    void wait();

private:
    // Builds body, registers it as the running script and runs it.
    QString run(const QString &body, bool registered = true);

    std::unique_ptr<kestApplication> m_app;
};

void tst_ControlFlow::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    QDomDocument procedures;
    QVERIFY(procedures.setContent(
        QStringLiteral("<Procedures>"
                       "<Code>Greet<ActionList><TestRecord>hello</TestRecord></ActionList></Code>"
                       "<Code>Leave<ActionList><TestRecord>in procedure</TestRecord><ExitProc/><TestRecord>not "
                       "reached</TestRecord></ActionList></Code>"
                       "</Procedures>")));
    m_app->setProcedureSource(procedureSource(procedures));
}

void tst_ControlFlow::init()
{
    TestRecord::clearJournal();
    kestVariables::clear();
    kestVariables::assignVariable(QStringLiteral("Score"), QStringLiteral("42"));
    kestVariables::assignVariable(QStringLiteral("Colour"), QStringLiteral("red"));
}

QString tst_ControlFlow::run(const QString &body, bool registered)
{
    const auto root = buildBody(body);
    if (!root)
        return QStringLiteral("<no tree>");
    if (registered)
        statRunningObject = root.get();
    const QString result = root->execute();
    statRunningObject = nullptr;
    return result;
}

void tst_ControlFlow::branches_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<QString>("result");

    const QString thenElse = QStringLiteral("<TestRecord>then</TestRecord><TestRecord>else</TestRecord>");
    QTest::newRow("If 2 takes then") << QStringLiteral("<If><Number>2</Number>") + thenElse + QStringLiteral("</If>")
                                     << lines("then") << "then";
    QTest::newRow("If yes takes else") << QStringLiteral("<If><Text>yes</Text>") + thenElse + QStringLiteral("</If>")
                                       << lines("else") << "else";
    QTest::newRow("If -1 takes then") << QStringLiteral("<If><Number>-1</Number>") + thenElse + QStringLiteral("</If>")
                                      << lines("then") << "then";
    QTest::newRow("If without else") << "<If><Number>0</Number><TestRecord>then</TestRecord></If>" << lines("") << "";

    const QString eqBranches = QStringLiteral("<TestRecord>equal</TestRecord><TestRecord>differ</TestRecord>");
    QTest::newRow("IfEqual variable against its value")
        << QStringLiteral("<IfEqual><Text>Score</Text><Number>42</Number>") + eqBranches + QStringLiteral("</IfEqual>")
        << lines("equal") << "equal";
    QTest::newRow("IfEqual is case-sensitive")
        << QStringLiteral("<IfEqual><Text>Colour</Text><Text>Red</Text>") + eqBranches + QStringLiteral("</IfEqual>")
        << lines("differ") << "differ";
    QTest::newRow("IfNot on equal values")
        << QStringLiteral("<IfNot><Text>Colour</Text><Text>red</Text>") + eqBranches + QStringLiteral("</IfNot>")
        << lines("differ") << "differ";
    QTest::newRow("IfNot on different values")
        << QStringLiteral("<IfNot><Text>a</Text><Text>b</Text>") + eqBranches + QStringLiteral("</IfNot>")
        << lines("equal") << "equal";

    const QString cmp = QStringLiteral("<TestRecord>yes</TestRecord><TestRecord>no</TestRecord>");
    QTest::newRow("IfHigher 10 9") << QStringLiteral("<IfHigher><Number>10</Number><Number>9</Number>") + cmp
            + QStringLiteral("</IfHigher>")
                                   << lines("yes") << "yes";
    QTest::newRow("IfHigher 10 word") << QStringLiteral("<IfHigher><Number>10</Number><Text>many</Text>") + cmp
            + QStringLiteral("</IfHigher>")
                                      << lines("no") << "no";
    QTest::newRow("IfHigher equal") << QStringLiteral("<IfHigher><Number>9</Number><Number>9</Number>") + cmp
            + QStringLiteral("</IfHigher>")
                                    << lines("no") << "no";
    QTest::newRow("IfHigher variable") << QStringLiteral("<IfHigher><Text>Score</Text><Number>40</Number>") + cmp
            + QStringLiteral("</IfHigher>")
                                       << lines("yes") << "yes";
    QTest::newRow("IfLower 2 10") << QStringLiteral("<IfLower><Number>2</Number><Number>10</Number>") + cmp
            + QStringLiteral("</IfLower>")
                                  << lines("yes") << "yes";
    QTest::newRow("IfLower fraction does not parse")
        << QStringLiteral("<IfLower><Number>2.5</Number><Number>10</Number>") + cmp + QStringLiteral("</IfLower>")
        << lines("no") << "no";

    QTest::newRow("SelectCase first match only")
        << "<SelectCase><Text>b</Text>"
           "<SingleCase name=\"a\"><TestRecord>case a</TestRecord></SingleCase>"
           "<SingleCase name=\"b\"><TestRecord>case b</TestRecord></SingleCase>"
           "<SingleCase name=\"b\"><TestRecord>second b</TestRecord></SingleCase>"
           "<SingleCase name=\"default\"><TestRecord>default</TestRecord></SingleCase></SelectCase>"
        << lines("case b") << "";
    QTest::newRow("SelectCase case named by a variable")
        << "<SelectCase><Number>42</Number>"
           "<SingleCase name=\"Score\"><TestRecord>score case</TestRecord></SingleCase></SelectCase>"
        << lines("score case") << "";
    QTest::newRow("SelectCase default first catches all")
        << "<SelectCase><Text>b</Text>"
           "<SingleCase name=\"default\"><TestRecord>default</TestRecord></SingleCase>"
           "<SingleCase name=\"b\"><TestRecord>case b</TestRecord></SingleCase></SelectCase>"
        << lines("default") << "";
    QTest::newRow("SelectCase no match, other children ignored")
        << "<SelectCase><Text>z</Text><TestRecord>not a case</TestRecord>"
           "<SingleCase name=\"a\"><TestRecord>case a</TestRecord></SingleCase></SelectCase>"
        << lines("") << "";
    QTest::newRow("SingleCase run directly does nothing")
        << "<SingleCase name=\"default\"><TestRecord>body</TestRecord></SingleCase>" << lines("") << "";

    const QString bodies = QStringLiteral("<TestRecord>a</TestRecord><TestRecord>b</TestRecord>");
    QTest::newRow("ForLoop 1 to 3") << QStringLiteral("<ForLoop><Number>1</Number><Number>3</Number><Number>1</Number>")
            + bodies + QStringLiteral("</ForLoop>")
                                    << lines("a|b|a|b|a|b") << "";
    QTest::newRow("ForLoop start beyond end")
        << QStringLiteral("<ForLoop><Number>4</Number><Number>3</Number><Number>1</Number>") + bodies
            + QStringLiteral("</ForLoop>")
        << lines("") << "";
    QTest::newRow("ForLoop step 2, one body")
        << "<ForLoop><Number>0</Number><Number>5</Number><Number>2</Number><TestRecord>a</TestRecord></ForLoop>"
        << lines("a|a|a") << "";
    QTest::newRow("ForLoop bounds from variables")
        << QStringLiteral("<ForLoop><GetValue><Text>One</Text></GetValue><Number>2</Number><Number>1</Number>") + bodies
            + QStringLiteral("</ForLoop>")
        << lines("a|b|a|b") << "";
    QTest::newRow("ForLoop near the integer limit ends")
        << "<ForLoop><Number>2147483646</Number><Number>2147483647</Number><Number>1000</Number>"
           "<TestRecord>a</TestRecord></ForLoop>"
        << lines("a") << "";
}

void tst_ControlFlow::branches()
{
    QFETCH(QString, body);
    kestVariables::assignVariable(QStringLiteral("One"), QStringLiteral("1"));
    QTEST(run(body), "result");
    QTEST(TestRecord::journal(), "journal");
}

void tst_ControlFlow::stoppedBranches_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("registered");
    QTest::addColumn<QStringList>("journal");
    const QString branches = QStringLiteral("<TestRecord>equal</TestRecord><TestRecord>differ</TestRecord>");
    // IfEqual only needs the script not to be stopped; the others also need it registered.
    QTest::newRow("IfEqual unregistered runs")
        << QStringLiteral("<IfEqual><Text>a</Text><Text>a</Text>") + branches + QStringLiteral("</IfEqual>") << false
        << lines("equal");
    QTest::newRow("IfNot unregistered does nothing") << QStringLiteral("<IfNot><Text>a</Text><Text>b</Text>") + branches
            + QStringLiteral("</IfNot>") << false << lines("");
    QTest::newRow("SelectCase unregistered does nothing")
        << "<SelectCase><Text>a</Text><SingleCase name=\"a\"><TestRecord>a</TestRecord></SingleCase></SelectCase>"
        << false << lines("");
    QTest::newRow("If has no stop test") << "<If><Number>1</Number><TestRecord>then</TestRecord></If>" << false
                                         << lines("then");
}

void tst_ControlFlow::stoppedBranches()
{
    QFETCH(QString, body);
    QFETCH(bool, registered);
    run(body, registered);
    QTEST(TestRecord::journal(), "journal");
}

void tst_ControlFlow::endlessLoopStops()
{
    // Step 0 never reaches the end: ExitProc inside, or a stop request from outside, ends it.
    run(QStringLiteral(
        "<ActionList><ForLoop><Number>1</Number><Number>3</Number><Number>0</Number>"
        "<TestRecord>pass</TestRecord><ExitProc/></ForLoop><TestRecord>after</TestRecord></ActionList>"));
    QCOMPARE(TestRecord::journal(), lines("pass"));

    const auto root = buildBody(QStringLiteral(
        "<ForLoop><Number>5</Number><Number>5</Number><Number>-1</Number><Wait><Number>5</Number></Wait></ForLoop>"));
    statRunningObject = root.get();
    LogCapture logs;
    std::unique_ptr<QThread> worker(QThread::create([&root] { root->execute(); }));
    worker->start();
    QTRY_VERIFY(logs.count(QStringLiteral("[LIB] Wait (end)")) >= 2); // looping
    QVERIFY(worker->isRunning());
    root->skipObject = true;
    QVERIFY(worker->wait(5000));
}

void tst_ControlFlow::callProcedure_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("journal");
    QTest::newRow("known procedure runs inside the caller") << "Greet" << lines("hello|after");
    QTest::newRow("ExitProc in the procedure ends the caller too") << "Leave" << lines("in procedure");
    QTest::newRow("unknown name does nothing") << "Nobody" << lines("after");
}

void tst_ControlFlow::callProcedure()
{
    QFETCH(QString, name);
    const auto root = buildBody(QStringLiteral("<ActionList><CallProcedure><Text>%1</Text></CallProcedure>"
                                               "<TestRecord>after</TestRecord></ActionList>")
                                    .arg(name));
    statRunningObject = root.get();
    root->execute();
    QTEST(TestRecord::journal(), "journal");
    root->skipObject = false;
    kestObject *call = root->childAction(0);
    QCOMPARE(call->execute(), name);
    // The called tree does not stay behind as an extra child.
    QCOMPARE(call->childActionCount(), 1);
}

void tst_ControlFlow::exitCommand()
{
    const auto root = buildBody(QStringLiteral("<Exit/>"));
    QSignalSpy commands(root.get(), &kestObject::gsSendEvent);
    root->execute();
    QCOMPARE(commands.count(), 1);
    QCOMPARE(commands.at(0), (QVariantList { QStringLiteral("Exit"), QString() }));
    root->skipObject = true;
    root->execute();
    QCOMPARE(commands.count(), 1);
}

void tst_ControlFlow::wait_data()
{
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<int>("atLeast"); // ms: whole steps of 10
    QTest::newRow("25 ms") << "25"
                           << "25" << 30;
    QTest::newRow("30 ms") << "30"
                           << "30" << 30;
    QTest::newRow("zero") << "0"
                          << "0" << 0;
    QTest::newRow("not a number") << "soon"
                                  << "0" << 0;
}

void tst_ControlFlow::wait()
{
    QFETCH(QString, duration);
    QFETCH(QString, logged);
    QFETCH(int, atLeast);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("[LIB] Wait (") + logged + QLatin1Char(')')));
    QTest::ignoreMessage(QtDebugMsg, "[LIB] Wait (end)");
    // Only the lower bound is checked: a busy machine may wake the wait late, never early.
    QElapsedTimer clock;
    clock.start();
    run(QStringLiteral("<Wait><Text>%1</Text></Wait>").arg(duration));
    QVERIFY2(clock.elapsed() >= atLeast, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(tst_ControlFlow)
#include "tst_controlflow.moc"

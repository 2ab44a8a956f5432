// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "scriptbuilder.h"
#include "testactions.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

class tst_ActionModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void values_data();
    void values();
    void actionListStops_data();
    void actionListStops();
    void inertTypes_data();
    void inertTypes();
    void rootLookup();
    void stopSlots();
    void applicationStopsReachActions();
    void endAll_data();
    void endAll();
    void endAllWithoutAction();
    void stopTests();

private:
    std::unique_ptr<kestApplication> m_app;
};

void tst_ActionModel::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
}

void tst_ActionModel::init()
{
    TestRecord::clearJournal();
    statRunningObject = nullptr;
    statScriptRunning = false;
}

void tst_ActionModel::values_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("result");
    QTest::newRow("Number keeps blanks") << "<Number>  5 </Number>"
                                         << "  5 ";
    QTest::newRow("Boolean unchanged") << "<Boolean> True</Boolean>"
                                       << " True";
    QTest::newRow("Text trimmed") << "<Text>\n   hello world \t</Text>"
                                  << "hello world";
    QTest::newRow("Text from CDATA") << "<Text><![CDATA[ a<b ]]></Text>"
                                     << "a<b";
    QTest::newRow("empty Number") << "<Number/>"
                                  << "";
    QTest::newRow("Text reads its first child only") << "<Text>first<Number>9</Number>rest</Text>"
                                                     << "first";
    QTest::newRow("ActionList returns nothing") << "<ActionList><Text>x</Text></ActionList>"
                                                << "";
}

void tst_ActionModel::values()
{
    QFETCH(QString, body);
    const auto root = buildBody(body);
    QVERIFY(root);
    QTEST(root->execute(), "result");
}

void tst_ActionModel::actionListStops_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("skipBefore");
    QTest::addColumn<QStringList>("journal");
    const QString list = QStringLiteral("<ActionList><TestRecord>a</TestRecord><ActionList><TestRecord>b</TestRecord>"
                                        "<TestStop/><TestRecord>c</TestRecord></ActionList><TestRecord>d</TestRecord>"
                                        "</ActionList>");
    QTest::newRow("stop inside a nested list ends the whole script") << list << false << lines("a|b");
    QTest::newRow("skipped root runs nothing") << list << true << lines("");
    QTest::newRow("all children run") << "<ActionList><TestRecord>a</TestRecord><TestRecord>b</TestRecord></ActionList>"
                                      << false << lines("a|b");
}

void tst_ActionModel::actionListStops()
{
    QFETCH(QString, body);
    QFETCH(bool, skipBefore);
    const auto root = buildBody(body);
    QVERIFY(root);
    root->skipObject = skipBefore;
    QCOMPARE(root->execute(), QString());
    QTEST(TestRecord::journal(), "journal");
}

void tst_ActionModel::inertTypes_data()
{
    QTest::addColumn<QString>("type");
    for (const char *type : { "ActionResult", "AddNum", "AddObject", "AppendText", "Batch", "ContainerShortcut",
             "CopyText", "CreateDirectory", "DataSet", "DeleteDirectory", "DeleteFile", "DirectoryInfo", "DivideNum",
             "File", "FileInfo", "FileStream", "Log", "Memory", "MemoryAction", "MemoryStream", "MultiplyNum", "Null",
             "NumEquals", "NumberFromText", "Password", "Sentence", "SetPosition", "Stream", "StringStream",
             "SubtractNum", "TextFromDataSet", "TextFromNumber", "WhileLoop" })
        QTest::newRow(type) << QString::fromLatin1(type);
}

void tst_ActionModel::inertTypes()
{
    QFETCH(QString, type);
    // Their children are built, never executed.
    const auto root = buildBody(QStringLiteral("<%1><TestRecord>child</TestRecord><Text>x</Text></%1>").arg(type));
    QVERIFY2(root, qPrintable(type));
    QCOMPARE(QLatin1String(root->metaObject()->className()), type);
    QCOMPARE(root->childActionCount(), 2);
    QVERIFY(root->hasChildren);
    QCOMPARE(root->execute(), QString());
    QVERIFY(TestRecord::journal().isEmpty());
}

void tst_ActionModel::rootLookup()
{
    const auto root = buildBody(QStringLiteral("<ActionList><ActionList><Text>deep</Text></ActionList></ActionList>"));
    kestObject *deep = root->childAction(0)->childAction(0);
    QCOMPARE(deep->root(), root.get());
    QCOMPARE(root->root(), root.get());
    // A non-action parent does not count as part of the tree.
    QObject holder;
    root->setParent(&holder);
    QCOMPARE(deep->root(), root.get());
    root->setParent(nullptr);
}

void tst_ActionModel::stopSlots()
{
    const auto root = buildBody(QStringLiteral("<ActionList><ActionList><Text>x</Text></ActionList></ActionList>"));
    kestObject *child = root->childAction(0);
    QSignalSpy loop(child, &kestObject::loopStop);
    QSignalSpy video(child, &kestObject::videoStop);
    QSignalSpy record(child, &kestObject::recordStop);
    QSignalSpy audio(child, &kestObject::audioStop);

    child->stopAll();
    QCOMPARE(loop.count(), 1);
    QVERIFY(!root->skipObject);

    child->stopVideo();
    child->stopRecord();
    child->stopAudio(QStringLiteral("file;_;12"));
    QCOMPARE(video.count(), 1);
    QCOMPARE(record.count(), 1);
    QCOMPARE(audio.value(0).value(0).toString(), QStringLiteral("file;_;12"));

    child->exit();
    QCOMPARE(loop.count(), 2);
    QVERIFY(root->skipObject);
    QVERIFY(!child->skipObject); // only the root's flag counts
}

void tst_ActionModel::applicationStopsReachActions()
{
    const auto root
        = buildBody(QStringLiteral("<ActionList><ActionList><Text>x</Text></ActionList><Text>y</Text></ActionList>"));
    // Every action hears each stop once: deep ones, a tree put below this one (as a called
    // procedure is) and one taken out of it.
    kestObject *grafted = buildBody(QStringLiteral("<ActionList><Text>p</Text></ActionList>")).release();
    grafted->setParent(root->childAction(0));
    kestObject *deep = root->childAction(0)->childAction(0);
    std::unique_ptr<kestObject> takenOut(root->childAction(1));
    takenOut->setParent(nullptr);
    for (kestObject *action : { root.get(), deep, grafted, grafted->childAction(0), takenOut.get() }) {
        QSignalSpy loop(action, &kestObject::loopStop);
        QSignalSpy video(action, &kestObject::videoStop);
        QSignalSpy record(action, &kestObject::recordStop);
        emit m_app->stopAll();
        emit m_app->stopVideoSignal();
        emit m_app->stopRecord();
        QCOMPARE(loop.count(), 1);
        QCOMPARE(video.count(), 1);
        QCOMPARE(record.count(), 1);
    }
    QVERIFY(!root->skipObject);
    QSignalSpy loop(deep, &kestObject::loopStop);
    emit m_app->exitAll();
    QCOMPARE(loop.count(), 1);
    QVERIFY(root->skipObject);
    QVERIFY(takenOut->skipObject);
}

void tst_ActionModel::endAll_data()
{
    QTest::addColumn<int>("rootPrio");
    QTest::addColumn<int>("newPrio");
    QTest::addColumn<bool>("alreadySkipped");
    QTest::addColumn<bool>("skipped");
    QTest::addColumn<bool>("loopStop");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("equal priority stops the older branch")
        << int(CLICK) << int(CLICK) << false << true << true << lines("Run with Prio CLICK|My Prio CLICK|loopStop!");
    QTest::newRow("higher priority stops it")
        << int(SELECT) << int(CLICK) << false << true << true << lines("Run with Prio CLICK|My Prio SELECT|loopStop!");
    QTest::newRow("lower priority leaves it alone")
        << int(CLICK) << int(SELECT) << false << false << false << lines("Run with Prio SELECT");
    QTest::newRow("click cuts a procedure's wait short")
        << int(PROCEDURE) << int(CLICK) << false << false << true << lines("Run with Prio CLICK|loopStop Proc!");
    QTest::newRow("hover does not touch a procedure")
        << int(PROCEDURE) << int(SELECT) << false << false << false << lines("Run with Prio SELECT");
    QTest::newRow("already stopped: nothing more")
        << int(CLICK) << int(PROCEDURE) << true << true << false << lines("Run with Prio PROCEDURE");
    QTest::newRow("a recording is stopped by a click")
        << int(RECORD) << int(CLICK) << false << true << true << lines("Run with Prio CLICK|My Prio |loopStop!");
}

void tst_ActionModel::endAll()
{
    QFETCH(int, rootPrio);
    QFETCH(int, newPrio);
    QFETCH(bool, alreadySkipped);
    QFETCH(QStringList, log);

    const auto root = buildBody(QStringLiteral("<ActionList><Text>x</Text></ActionList>"));
    root->prio = Prio(rootPrio);
    root->skipObject = alreadySkipped;
    kestObject *child = root->childAction(0);
    QSignalSpy loop(child, &kestObject::loopStop);
    for (const QString &line : log)
        QTest::ignoreMessage(QtDebugMsg, qPrintable(line));

    // Through the call a newer branch makes on an action of the running one.
    child->newThread(Prio(newPrio));

    QTEST(bool(root->skipObject), "skipped");
    QTEST(!loop.isEmpty(), "loopStop");
}

void tst_ActionModel::endAllWithoutAction()
{
    QTest::ignoreMessage(QtDebugMsg, "Run with Prio CLICK");
    QTest::ignoreMessage(QtDebugMsg, "get Root == NULL!! Grosser Fehler");
    kestObject::endAllOn(nullptr, CLICK);
}

void tst_ActionModel::stopTests()
{
    const auto root = buildBody(QStringLiteral("<ActionList><Text>x</Text></ActionList>"));
    kestObject *child = root->childAction(0);
    QVERIFY(child->passesSkipTest());
    QVERIFY(!child->passesRunTest()); // no script registered as running

    statRunningObject = root.get();
    QVERIFY(child->passesRunTest());

    root->skipObject = true;
    QVERIFY(!child->passesSkipTest());
    QVERIFY(!child->passesRunTest());
    statRunningObject = nullptr;
}

QTEST_GUILESS_MAIN(tst_ActionModel)
#include "tst_actionmodel.moc"

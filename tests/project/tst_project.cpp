// SPDX-License-Identifier: GPL-3.0-or-later
// A whole course played inside the test: a real scene bridge offscreen, real worker threads.
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestcommands.h"
#include "kestentity.h"
#include "kestproject.h"
#include "kestsubproject.h"
#include "kestthread.h"
#include "logcapture.h"
#include "testactions.h"
#include "testclock.h"
#include "variablestore.h"
#include "webview.h"

#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

#include <memory>

namespace {
QString course(const char *name)
{
    return QStringLiteral(KEST_TEST_DATA_DIR "/courses/") + QLatin1String(name);
}

QString value(const char *name)
{
    return kestVariables::variableValue(QLatin1String(name));
}
}

class tst_Project : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void loadEntersFirstScene();
    void keywordNavigation();
    void historyAndPreviousVariable();
    void navigationVariables();
    void switchGuard();
    void repeatRebuilds();
    void leftSceneGivesBackItsEntities();
    void procedureLookup();
    void clickRouting_data();
    void clickRouting();
    void menuBarSearchLogs();
    void hoverAndDrop();
    void setEntityActive_data();
    void setEntityActive();
    void drawOrderAndIds();
    void scriptSlotsForBackKey();
    void missingAndBrokenFiles();
    void emptyNameKeepsLeadingText();
    void routerTable();
    void routerCallProcedure();
    void changeProjectWhileScriptsRun();
    void loadFileScriptGoesOn_data();
    void loadFileScriptGoesOn();

private:
    TestClock m_clock; // the switch guard and the Back key see only the time stepped here
    // Waits until no branch is left.
    bool settle();
    bool load(const char *name);
    // Switches, keeping clear of the 100 ms guard.
    void go(const QString &target);

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<QWidget> m_host;
    kestProject *m_project = nullptr;
};

void tst_Project::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    m_host = std::make_unique<QWidget>();
    m_host->resize(1600, 900);
    m_host->show();
}

void tst_Project::init()
{
    kestVariables::clear();
    TestRecord::clearJournal();
    m_project = new kestProject(m_host.get());
    new kestCommandRouter(m_app.get(), m_project);
    m_clock.thaw();
}

void tst_Project::cleanup()
{
    QVERIFY(kestThread::shutdownAll(10000));
    delete m_project;
    m_project = nullptr;
    QVERIFY(kestThread::shutdownAll(10000));
}

bool tst_Project::settle()
{
    return QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000);
}

bool tst_Project::load(const char *name)
{
    const bool loaded = m_project->loadProject(course(name));
    return loaded && settle();
}

void tst_Project::go(const QString &target)
{
    m_clock.advance(110);
    m_project->gotoSubProject(target);
    QVERIFY(settle());
}

void tst_Project::loadEntersFirstScene()
{
    QVERIFY(load("navigation.avx"));
    QCOMPARE(m_project->subProjects().size(), 3);
    QCOMPARE(m_project->menuBarSubProjects().size(), 1);
    QCOMPARE(m_project->procedureSubProjects().size(), 1);
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("A"));
    QCOMPARE(m_project->history(), QList<int>({ 0 }));
    QVERIFY(TestRecord::journal().contains(QStringLiteral("main A")));
    QVERIFY(m_project->webView());
}

void tst_Project::keywordNavigation()
{
    QVERIFY(load("navigation.avx"));
    const QStringList expected[]
        = { lines("main B"), lines("main C"), lines(""), lines("main B"), lines("main A"), lines("") };
    const char *steps[] = { "%NEXT", "%NEXT", "%NEXT", "%PREVIOUS", "%PREVIOUS", "%PREVIOUS" };
    const int current[] = { 1, 2, 2, 1, 0, 0 };
    for (int i = 0; i < 6; ++i) {
        TestRecord::clearJournal();
        go(QLatin1String(steps[i]));
        QCOMPARE(m_project->currentIndex(), current[i]);
        QCOMPARE(TestRecord::journal(), expected[i]);
    }
    // A keyword among other words still counts.
    go(QStringLiteral("go %NEXT please"));
    QCOMPARE(m_project->currentIndex(), 1);
}

void tst_Project::historyAndPreviousVariable()
{
    QVERIFY(load("navigation.avx"));
    go(QStringLiteral("%NEXT"));
    go(QStringLiteral("A"));
    go(QStringLiteral("C"));
    // C's scripts see the index before C in the variable, while "%PREVIOUS" walks the path back.
    QCOMPARE(value("seen previous"), QStringLiteral("1"));
    QCOMPARE(m_project->history(), QList<int>({ 0, 1, 0, 2 }));
    go(QStringLiteral("%PREVIOUS"));
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("A"));
    go(QStringLiteral("%RETURN"));
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("A"));
    go(QStringLiteral("Nowhere"));
    QCOMPARE(m_project->currentIndex(), 0);
}

void tst_Project::navigationVariables()
{
    QVERIFY(load("navigation.avx"));
    go(QStringLiteral("C"));
    QCOMPARE(value("%RETURN"), QStringLiteral("0"));
    QCOMPARE(value("%REPEAT"), QStringLiteral("2"));
    QCOMPARE(value("%NEXT"), QStringLiteral("2"));
    QCOMPARE(value("%PREVIOUS"), QStringLiteral("1"));
}

void tst_Project::switchGuard()
{
    QVERIFY(load("navigation.avx"));
    m_clock.freeze();
    m_clock.advance(110);
    m_project->gotoSubProject(QStringLiteral("%NEXT"));
    m_clock.advance(99); // still within the guard's 100 ms
    m_project->gotoSubProject(QStringLiteral("%NEXT"));
    QVERIFY(settle());
    QCOMPARE(m_project->currentIndex(), 1);
    m_clock.advance(100);
    m_project->gotoSubProject(QStringLiteral("%NEXT"));
    QVERIFY(settle());
    QCOMPARE(m_project->currentIndex(), 2);
}

void tst_Project::repeatRebuilds()
{
    QVERIFY(load("navigation.avx"));
    const int oldId = m_project->currentSubProject()->entity(QStringLiteral("a"))->getID();
    TestRecord::clearJournal();
    go(QStringLiteral("%REPEAT"));
    QCOMPARE(TestRecord::journal(), lines("main A"));
    QVERIFY(m_project->currentSubProject()->entity(QStringLiteral("a"))->getID() != oldId);
    QCOMPARE(m_project->history(), QList<int>({ 0 }));
}

void tst_Project::leftSceneGivesBackItsEntities()
{
    QVERIFY(load("leaving.avx"));
    kestSubProject *first = m_project->currentSubProject();
    QPointer<kestEntity> slow = first->entity(QStringLiteral("Slow"));
    QVERIFY(slow);
    const int oldId = slow->getID();
    TestRecord::clearJournal();
    // A click script of the scene is still waiting when it is left.
    LogCapture logs;
    m_project->webView()->qmlClickedEntity(QStringLiteral("Slow"));
    QTRY_VERIFY(logs.messages().contains(QStringLiteral("[LIB] Wait (300)")));
    m_clock.advance(110);
    m_project->gotoSubProject(QStringLiteral("Second"));
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("Second"));
    QVERIFY(!slow);
    QVERIFY(first->entities().isEmpty());
    QVERIFY(!first->hasNamedScript(QStringLiteral("Leftover")));
    QVERIFY(!first->isBuilt());
    // The menu bar stays built and answers.
    QCOMPARE(m_project->menuBarSubProjects().first()->entities().size(), 1);

    // What was running goes on to its end without its manager.
    QVERIFY(settle());
    QCOMPARE(TestRecord::journal(), lines("slow click done"));

    // Coming back builds the scene anew.
    TestRecord::clearJournal();
    go(QStringLiteral("First"));
    QVERIFY(first->isBuilt());
    QVERIFY(first->entity(QStringLiteral("Slow"))->getID() != oldId);
    m_project->webView()->qmlClickedEntity(QStringLiteral("Quick"));
    QVERIFY(settle());
    m_project->webView()->qmlClickedEntity(QStringLiteral("MenuButton"));
    QVERIFY(settle());
    QCOMPARE(TestRecord::journal(), lines("quick click|menu click"));
}

void tst_Project::procedureLookup()
{
    QVERIFY(load("navigation.avx"));
    TestRecord::clearJournal();
    // The scene's own procedure comes before the library's of the same name.
    QVERIFY(m_project->callProcedure(QStringLiteral("Shared")));
    QVERIFY(m_project->callProcedure(QStringLiteral(" OnlyInLibrary ")));
    settle();
    QCOMPARE(TestRecord::journal().size(), 2);
    QVERIFY(TestRecord::journal().contains(QStringLiteral("scene A Shared")));
    QVERIFY(TestRecord::journal().contains(QStringLiteral("library OnlyInLibrary")));

    QTest::ignoreMessage(QtDebugMsg, "Call Procedure Missing not found!");
    QVERIFY(!m_project->callProcedure(QStringLiteral("Missing")));
    QTest::ignoreMessage(QtDebugMsg, "Cannot find Procedure Missing 's information!");
    QVERIFY(!m_project->getProcedure(QStringLiteral("Missing")));

    // Fetched trees are the caller's; "$SUBPROJECT" reads the current scene's name.
    TestRecord::clearJournal();
    std::unique_ptr<kestObject> tree(m_project->getProcedure(QStringLiteral("Shared")));
    QVERIFY(tree);
    tree->execute();
    QCOMPARE(TestRecord::journal(), lines("scene A Shared"));
    QCOMPARE(kestVariables::subProjectName(), QStringLiteral("A"));
}

void tst_Project::clickRouting_data()
{
    QTest::addColumn<QString>("entity");
    QTest::addColumn<QStringList>("journal");
    QTest::newRow("entity script") << "a" << lines("click a");
    QTest::newRow("Function runs the scene's fixed slot") << "C" << lines("joystick 3 of A");
    QTest::newRow("entity only in the menu bar") << "MenuButton" << lines("menu click");
    QTest::newRow("inactive entity") << "Sleeper" << lines("");
    QTest::newRow("unknown entity") << "Ghost" << lines("");
    QTest::newRow("entity without click script") << "b" << lines("");
}

void tst_Project::clickRouting()
{
    QFETCH(QString, entity);
    QVERIFY(load("navigation.avx"));
    TestRecord::clearJournal();
    m_project->webView()->qmlClickedEntity(entity);
    settle();
    QTEST(TestRecord::journal(), "journal");
}

void tst_Project::menuBarSearchLogs()
{
    QVERIFY(load("navigation.avx"));
    LogCapture log;
    m_project->webView()->qmlClickedEntity(QStringLiteral("MenuButton"));
    settle();
    QCOMPARE(log.count(QStringLiteral("CLicked call: MenuButton")), 2);

    // The mute entity toggles the scene's sound and runs nothing.
    TestRecord::clearJournal();
    const bool muted = m_project->webView()->isMuted();
    m_project->webView()->qmlClickedEntity(QStringLiteral("ENTITY_NoSound"));
    QCOMPARE(m_project->webView()->isMuted(), !muted);
    QCOMPARE(log.count(QStringLiteral("CLicked call: ENTITY_NoSound")), 0);
}

void tst_Project::hoverAndDrop()
{
    QVERIFY(load("navigation.avx"));
    TestRecord::clearJournal();
    m_project->webView()->qmlHoverEntity(QStringLiteral("a"));
    settle();
    QCOMPARE(TestRecord::journal(), lines("hover a"));

    TestRecord::clearJournal();
    m_project->webView()->qmlDropEntity(QStringLiteral("Ball"), QStringLiteral("Target"));
    settle();
    QCOMPARE(TestRecord::journal(), lines("dropped"));
    // The drop script reads "$drag", set before it started.
    QCOMPARE(value("seen drag"), QStringLiteral("Ball"));

    m_project->webView()->qmlDropEntity(QStringLiteral("Cup"), QStringLiteral("Nothing"));
    QCOMPARE(value("$drag"), QStringLiteral("Cup"));
}

void tst_Project::setEntityActive_data()
{
    QTest::addColumn<QString>("entity");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("active");
    QTest::newRow("True activates") << "Sleeper"
                                    << "True" << true;
    QTest::newRow("yes deactivates") << "a"
                                     << "yes" << false;
    QTest::newRow("menu entity reached through the menu bars") << "MenuToggle"
                                                               << "false" << false;
}

void tst_Project::setEntityActive()
{
    QFETCH(QString, entity);
    QFETCH(QString, value);
    QVERIFY(load("navigation.avx"));
    // As a script's ChangeEntity would, through the router.
    m_app->kestHandleEvent(QStringLiteral("changeEntity"), entity + QStringLiteral(";_;StateActive;_;") + value);
    kestEntity *target = m_project->currentSubProject()->entity(entity);
    if (!target)
        target = m_project->menuBarSubProjects().first()->entity(entity);
    QVERIFY(target);
    QTEST(target->isActive(), "active");
}

void tst_Project::drawOrderAndIds()
{
    LogCapture log;
    QVERIFY(load("navigation.avx"));
    // Entities are created in name order (C, Sleeper, Target, a, b), not document order.
    QTRY_VERIFY(!log.startingWith(QStringLiteral("QML CREATE b")).isEmpty());
    QStringList created;
    for (const QString &line : log.startingWith(QStringLiteral("QML CREATE ")))
        created << line.mid(11).chopped(1);
    QCOMPARE(created,
        QStringList({ QStringLiteral("C"), QStringLiteral("Sleeper"), QStringLiteral("Target"), QStringLiteral("a"),
            QStringLiteral("b") }));

    QSet<int> ids;
    for (kestEntity *e : m_project->currentSubProject()->entities())
        ids.insert(e->getID());
    go(QStringLiteral("B"));
    go(QStringLiteral("A"));
    for (kestEntity *e : m_project->currentSubProject()->entities())
        QVERIFY(!ids.contains(e->getID()));
}

void tst_Project::scriptSlotsForBackKey()
{
    QVERIFY(load("navigation.avx"));
    TestRecord::clearJournal();
    m_project->runScriptSlot(7);
    settle();
    QCOMPARE(TestRecord::journal(), lines("back on first scene"));
    go(QStringLiteral("C"));
    TestRecord::clearJournal();
    m_project->runScriptSlot(4);
    m_project->runScriptSlot(15);
    m_project->runScriptSlot(-1);
    settle();
    QCOMPARE(TestRecord::journal(), lines("back on later scene"));
}

void tst_Project::emptyNameKeepsLeadingText()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("names.avx")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<Course><SubProject>Leading<Name/></SubProject><SubProject><Name>Other</Name></SubProject></Course>");
    file.close();
    QVERIFY(m_project->loadProject(file.fileName()) && settle());
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("Leading"));
    QCOMPARE(kestVariables::subProjectName(), QStringLiteral("Leading"));
    go(QStringLiteral("Other"));
    go(QStringLiteral("Leading"));
    QCOMPARE(m_project->currentIndex(), 0);
}

void tst_Project::missingAndBrokenFiles()
{
    QVERIFY(load("navigation.avx"));
    QSignalSpy said(m_app.get(), &kestApplication::readText);
    const QString missing = course("no-such-course.avx");
    QVERIFY(!m_project->loadProject(missing));
    QCOMPARE(said.value(0).value(0).toString(), QStringLiteral("Error! ") + missing);
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("A")); // still running

    // A document that does not parse, or one nested deep enough to overflow the parser, leaves
    // the course running as well.
    QTemporaryDir dir;
    QFile deep(dir.filePath(QStringLiteral("deep.avx")));
    QVERIFY(deep.open(QIODevice::WriteOnly));
    deep.write(QByteArray("<Project>").repeated(60000) + QByteArray("</Project>").repeated(60000));
    deep.close();
    for (const QString &path : { course("broken.avx"), deep.fileName() }) {
        QVERIFY(!m_project->loadProject(path));
        QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("A"));
        QVERIFY(m_project->callProcedure(QStringLiteral("Shared")));
    }

    // A later good load starts a fresh history.
    QVERIFY(load("navigation.avx"));
    QCOMPARE(m_project->history(), QList<int>({ 0 }));
}

void tst_Project::routerTable()
{
    QVERIFY(load("navigation.avx"));
    // Accepted and without effect, or unknown (other letter case): nothing happens.
    QSignalSpy exits(m_app.get(), &kestApplication::exitAll);
    for (const char *command : { "wglstartpause", "wglendpause", "createTextEntity", "createWebkit", "exit", "" })
        m_app->kestHandleEvent(QLatin1String(command), QStringLiteral("x;_;y"));
    QCOMPARE(exits.count(), 0);
    m_app->kestHandleEvent(QStringLiteral("Exit"), QString());
    QCOMPARE(exits.count(), 1);
    // Every command an action can send has a row: a missing one would drop it without a trace.
    for (const QLatin1String &command : kestCommand::All)
        QVERIFY2(kestCommandRouter::hasRoute(command), command.data());

    // Navigation through the router, also when sent from a worker thread.
    std::unique_ptr<QThread> sender(
        QThread::create([this] { m_app->kestHandleEvent(QStringLiteral("gotoSubProject"), QStringLiteral("C")); }));
    m_clock.advance(110);
    sender->start();
    QVERIFY(sender->wait(5000));
    QTRY_COMPARE(m_project->currentIndex(), 2);
    settle();

    // "ChangeProject" with a missing file: scripts are told to stop, the course stays, and the
    // waiting LoadFile is released all the same.
    QSignalSpy stops(m_app.get(), &kestApplication::stopAll);
    QSignalSpy loaded(m_app.get(), &kestApplication::projectLoaded);
    m_app->kestHandleEvent(QStringLiteral("ChangeProject"), course("gone.avx"));
    QCOMPARE(stops.count(), 1);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("C"));
}

void tst_Project::routerCallProcedure()
{
    QVERIFY(load("navigation.avx"));
    m_app->kestHandleEvent(QStringLiteral("callProcedure"), QStringLiteral("Unknown"));
    QVERIFY(m_app->calledProcedures().isEmpty());
    QVERIFY(!m_project->webView()->isWaitingForProcedure());

    m_app->kestHandleEvent(QStringLiteral("callProcedure"), QStringLiteral("Shared"));
    QVERIFY(m_project->webView()->isWaitingForProcedure());
    settle();
    m_app->kestHandleEvent(QStringLiteral("callProcedure"), QStringLiteral("OnlyInLibrary"));
    settle();
    QCOMPARE(m_app->calledProcedures(), QStringList({ QStringLiteral("Shared"), QStringLiteral("OnlyInLibrary") }));

    // Breaking the procedures reports each called one; the last one was the awaited one.
    QSignalSpy bridgeCalls(m_app.get(), &kestApplication::procedureFinished);
    m_app->kestProcBreak();
    QCOMPARE(bridgeCalls.count(), 2);
    QVERIFY(!m_project->webView()->isWaitingForProcedure());
    QVERIFY(m_app->calledProcedures().isEmpty());
}

void tst_Project::changeProjectWhileScriptsRun()
{
    // Scripts are waiting, looping and running procedures while the course is replaced twice;
    // the old scenes go away under them.
    QVERIFY(m_project->loadProject(course("busy.avx")));
    QTRY_VERIFY(TestRecord::journal().contains(QStringLiteral("main Busy")));
    LogCapture logs;
    m_project->webView()->qmlClickedEntity(QStringLiteral("Spinner"));
    m_app->kestHandleEvent(QStringLiteral("callProcedure"), QStringLiteral("Slow"));
    // Either the procedure loops through its waits while the click waits for its turn, or the
    // procedure found no registered branch (its waits return at once) and the click loops.
    QTRY_VERIFY(logs.count(QStringLiteral("[LIB] Wait (10)")) + logs.count(QStringLiteral("[LIB] Wait (20)")) > 0);
    m_app->kestHandleEvent(QStringLiteral("ChangeProject"), course("navigation.avx"));
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("A"));
    m_app->kestHandleEvent(QStringLiteral("ChangeProject"), course("busy.avx"));
    m_app->kestHandleEvent(QStringLiteral("Exit"), QString());
    QVERIFY(kestThread::shutdownAll(10000));
    // Threads of managers that still exist are collected by their managers on this thread.
    QTRY_COMPARE(kestThread::liveCount(), 0);
}

void tst_Project::loadFileScriptGoesOn_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("scene"); // what the scene B entered after the load writes
    QTest::newRow("project changed") << "navigation.avx"
                                     << "main B";
    QTest::newRow("document refused") << "broken.avx"
                                      << "main B of loading";
    QTest::newRow("document missing") << "gone.avx"
                                      << "main B of loading";
}

void tst_Project::loadFileScriptGoesOn()
{
    // The project change stops every script, the one that asked for it too: the rest of that
    // script must still run, whether the new document loaded or not.
    QFETCH(QString, target);
    QFETCH(QString, scene);
    QTemporaryDir settings;
    kestVariables::assignVariable(QStringLiteral("USERPATH"), QStringLiteral(KEST_TEST_DATA_DIR "/courses"));
    kestVariables::assignVariable(QStringLiteral("INIPATH"), settings.path());
    kestVariables::assignVariable(QStringLiteral("Target"), target);
    QVERIFY(load("loading.avx"));
    m_project->webView()->qmlClickedEntity(QStringLiteral("Loader"));
    QTRY_VERIFY(TestRecord::journal().contains(QStringLiteral("after load")));
    QVERIFY(settle());
    QCOMPARE(value("Reached"), QStringLiteral("yes"));
    QCOMPARE(m_project->currentSubProject()->name(), QStringLiteral("B"));
    QVERIFY(TestRecord::journal().contains(scene));
}

QTEST_MAIN(tst_Project)
#include "tst_project.moc"

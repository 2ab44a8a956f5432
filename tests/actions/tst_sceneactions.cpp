// SPDX-License-Identifier: GPL-3.0-or-later
// The scene and entity actions: the command and payload each one sends, and when it sends none.
#include "kestapplication.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "logcapture.h"
#include "testactions.h"
#include "variablestore.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

// An action whose arguments are literal texts (Number hands its text over untouched).
QString call(const char *action, const QStringList &args)
{
    QString body = QLatin1Char('<') + QLatin1String(action) + QLatin1Char('>');
    for (const QString &text : args)
        body += QStringLiteral("<Number>") + text.toHtmlEscaped() + QStringLiteral("</Number>");
    return body + QStringLiteral("</") + QLatin1String(action) + QLatin1Char('>');
}

QStringList commands(const QSignalSpy &spy)
{
    QStringList seen;
    for (const QList<QVariant> &signal : spy)
        seen << signal.at(0).toString() + QLatin1Char('=') + signal.at(1).toString();
    return seen;
}

} // namespace

class tst_SceneActions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void payloads_data();
    void payloads();
    void shuffleMovesEveryPosition_data();
    void shuffleMovesEveryPosition();
    void videoWaitEnds_data();
    void videoWaitEnds();

private:
    std::unique_ptr<kestObject> build(const QString &body, bool registered);

    std::unique_ptr<kestApplication> m_app;
};

void tst_SceneActions::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
}

void tst_SceneActions::init()
{
    kestVariables::clear();
    kestVariables::assignVariable(QStringLiteral("Speed"), QStringLiteral("fast"));
}

void tst_SceneActions::cleanup()
{
    statRunningObject = nullptr;
    statScriptRunning = false;
}

std::unique_ptr<kestObject> tst_SceneActions::build(const QString &body, bool registered)
{
    auto root = buildBody(body);
    if (root && registered) {
        statRunningObject = root.get();
        statScriptRunning = true;
    }
    // The test looks at the commands alone; the application has no router here anyway.
    if (root)
        QObject::disconnect(root.get(), &kestObject::gsSendEvent, m_app.get(), nullptr);
    return root;
}

void tst_SceneActions::payloads_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("registered"); // the script is the running one
    QTest::addColumn<bool>("stopped"); // its root was told to stop
    QTest::addColumn<QStringList>("sent"); // "command=payload"
    QTest::addColumn<QString>("logged"); // "" for no line to look for

    const QStringList five = lines("e|1|2|3|4");
    QTest::newRow("MoveEntity") << call("MoveEntity", five) << true << false << lines("moveEntity=e;_;1;_;2;_;3;_;4")
                                << "";
    QTest::newRow("MoveEntity needs no running script")
        << call("MoveEntity", five) << false << false << lines("moveEntity=e;_;1;_;2;_;3;_;4") << "";
    QTest::newRow("MoveEntity stopped") << call("MoveEntity", five) << true << true << lines("") << "";
    QTest::newRow("ChangeEntity") << call("ChangeEntity", lines("Pear|Text|ripe")) << true << false
                                  << lines("changeEntity=Pear;_;Text;_;ripe") << "[LibChangeEntity] : Pear;_;Text;_;ripe";
    QTest::newRow("ChangeEntity empty value sends nothing")
        << call("ChangeEntity", { QStringLiteral("Pear"), QStringLiteral("Text"), QString() }) << true << false
        << lines("") << "";
    QTest::newRow("ChangeEntity without running script") << call("ChangeEntity", lines("Pear|Text|ripe")) << false
                                                         << false << lines("") << "";
    QTest::newRow("RestoreEntityPos even when stopped") << call("RestoreEntityPos", lines("Apple")) << false << true
                                                        << lines("restoreEntityPos=Apple")
                                                        << "[LIB] RestoreEntityPos (Apple)";
    QTest::newRow("ChangeBackground") << call("ChangeBackground", lines("0x336699")) << false << false
                                      << lines("changeBackgroundColor=0x336699") << "[LibChangeBackground] : 0x336699";
    QTest::newRow("ChangeBackground stopped") << call("ChangeBackground", lines("0x336699")) << false << true
                                              << lines("") << "";
    QTest::newRow("CreateBubble") << call("CreateBubble", lines("Hello")) << true << false
                                  << lines("createBubble=Hello") << "[LibCreateBubble] : Hello";
    QTest::newRow("ActivateImageBorder") << call("ActivateImageBorder", lines("space")) << true << false
                                         << lines("activateimageborder=space") << "[LIB] ActivateImageBorder (space)";
    QTest::newRow("TextEntity") << call("TextEntity", lines("t|a|b|c|d|e")) << true << false
                                << lines("createTextEntity=t;_;a;_;b;_;c;_;d;_;e")
                                << "[LibTextEntity] : t;_;a;_;b;_;c;_;d;_;e";
    QTest::newRow("IgnoreUserinput") << call("IgnoreUserinput", lines("true")) << true << false
                                     << lines("ignoreUserinput=true") << "[IgnoreUserinput] : true";
    QTest::newRow("PngAnimate three children: repeat -1")
        << call("PngAnimate", lines("Cat|walk|frames.txt")) << true << false
        << lines("pngAnimate=Cat;_;walk;_;frames.txt;_;-1") << "";
    QTest::newRow("PngAnimate four children") << call("PngAnimate", lines("Cat|walk|frames.txt|3")) << true << false
                                              << lines("pngAnimate=Cat;_;walk;_;frames.txt;_;3") << "";
    QTest::newRow("PngAnimate without running script")
        << call("PngAnimate", lines("Cat|walk|frames.txt")) << false << false << lines("") << "";
    QTest::newRow("StopPngAnimation") << call("StopPngAnimation", lines("walk")) << true << false
                                      << lines("stopPNGAnimation=walk") << "";
    QTest::newRow("WGLAnimation resolves, joins with a colon, runs when stopped")
        << call("WGLAnimation", lines("Speed|slow")) << false << true << lines("wglanimate=fast:slow")
        << "[LIB] WGLAnimation (fast,slow)";
    QTest::newRow("CreateWebkit runs when stopped") << call("CreateWebkit", {}) << false << true
                                                    << lines("createWebkit=") << "";
    QTest::newRow("ShowTextfile") << call("ShowTextfile", lines("Help|help.txt")) << true << false
                                  << lines("showTextfile=Help;_;help.txt") << "[LIB] ShowTextfile (Help;_;help.txt)";
    QTest::newRow("ShowTextfile one argument") << call("ShowTextfile", lines("help.txt")) << true << false
                                               << lines("showTextfile=help.txt;_;")
                                               << "[LIB] ShowTextfile (help.txt;_;)";
    QTest::newRow("PlayVideo") << call("PlayVideo", lines("intro.mp4|x")) << true << false
                               << lines("playvideo=intro.mp4;_;x") << "[LIB] PlayVideo (intro.mp4,x)";
    QTest::newRow("VideoPlayer") << call("VideoPlayer", lines("v|a.mp4|1")) << true << false
                                 << lines("videoplayer=v;_;a.mp4;_;1") << "[LIB] Videoplayer (v;_;a.mp4;_;1)";
    QTest::newRow("VideoPlayerAction two fields") << call("VideoPlayerAction", lines("play|v")) << true << false
                                                  << lines("videoplayeraction=play;_;v")
                                                  << "[LIB] VideoPlayerAction (play;_;v)";
    QTest::newRow("VideoPlayerAction four fields")
        << call("VideoPlayerAction", lines("setsource|v|b.mp4|2")) << true << false
        << lines("videoplayeraction=setsource;_;v;_;b.mp4;_;2") << "[LIB] VideoPlayerAction (setsource;_;v;_;b.mp4;_;2)";
    QTest::newRow("VideoPlayerAction without running script")
        << call("VideoPlayerAction", lines("play|v")) << false << false << lines("") << "";
    QTest::newRow("StopMedia") << call("StopMedia", lines("v")) << true << false << lines("stopSpecificMedia=v")
                               << "[LIB] stopSpecificMedia (v)";
    QTest::newRow("StopMedia stopped") << call("StopMedia", lines("v")) << true << true << lines("") << "";
}

void tst_SceneActions::payloads()
{
    QFETCH(QString, body);
    QFETCH(bool, registered);
    QFETCH(bool, stopped);
    QFETCH(QString, logged);
    const auto root = build(body, registered);
    QVERIFY(root);
    root->skipObject = stopped;
    QSignalSpy spy(root.get(), &kestObject::gsSendEvent);
    LogCapture log;
    QCOMPARE(root->execute(), QString());
    QTEST(commands(spy), "sent");
    if (!logged.isEmpty())
        QCOMPARE(log.count(logged), 1);
}

void tst_SceneActions::shuffleMovesEveryPosition_data()
{
    QTest::addColumn<QString>("positions");
    QTest::newRow("two") << "a;b";
    QTest::newRow("three") << "a;b;c";
    QTest::newRow("six, one empty") << "p1;p2;;p4;p5;p6";
}

void tst_SceneActions::shuffleMovesEveryPosition()
{
    QFETCH(QString, positions);
    const QStringList initial = positions.split(QLatin1Char(';'));
    QSet<QString> seen;
    for (int run = 0; run < 40; ++run) {
        const auto root = build(call("ShufflePosition", { positions }), false);
        QSignalSpy spy(root.get(), &kestObject::gsSendEvent);
        LogCapture log;
        root->execute();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("shufflePosition"));
        const QString payload = spy.at(0).at(1).toString();
        QCOMPARE(log.count(QStringLiteral("[LibShufflePosition] :  ") + payload), 1);
        seen.insert(payload);

        // Pair i starts at position i; the targets are the positions again, each once, and the
        // pairs run along one cycle through all of them, so none joins a position with itself.
        const QStringList pairs = payload.split(QStringLiteral(";_;"));
        QCOMPARE(pairs.size(), initial.size());
        QHash<QString, QString> next;
        QStringList targets;
        for (int i = 0; i < pairs.size(); ++i) {
            const QStringList pair = pairs.at(i).split(QLatin1Char(';'));
            QCOMPARE(pair.size(), 2);
            QCOMPARE(pair.at(0), initial.at(i));
            QVERIFY2(pair.at(1) != pair.at(0), qPrintable(payload));
            next.insert(pair.at(0), pair.at(1));
            targets << pair.at(1);
        }
        std::sort(targets.begin(), targets.end());
        QStringList sorted = initial;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(targets, sorted);
        QString at = initial.first();
        for (int step = 1; step < initial.size(); ++step) {
            at = next.value(at);
            QVERIFY2(at != initial.first(), qPrintable(payload + QStringLiteral(" closes a shorter cycle")));
        }
    }
    // Three positions have two cycles; both turn up.
    if (initial.size() == 3)
        QCOMPARE(seen.size(), 2);

    // A single position can only go to itself.
    const auto single = build(call("ShufflePosition", lines("only")), false);
    QSignalSpy spy(single.get(), &kestObject::gsSendEvent);
    single->execute();
    QCOMPARE(commands(spy), lines("shufflePosition=only;only"));
}

void tst_SceneActions::videoWaitEnds_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("stopsScript");
    QTest::newRow("video finished") << "video" << false;
    QTest::newRow("exitAll") << "exitAll" << true;
    QTest::newRow("pre-empted") << "preempt" << true;
    // A stop request that only sets the root's flag, with no signal behind it.
    QTest::newRow("stop flag alone") << "flag" << true;
}

void tst_SceneActions::videoWaitEnds()
{
    QFETCH(QString, trigger);
    QFETCH(bool, stopsScript);
    const auto root = build(QStringLiteral("<ActionList>") + call("VideoPlayerAction", lines(" WaitTillFinished |v"))
            + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"),
        true);
    TestRecord::clearJournal();
    QSignalSpy spy(root->childAction(0), &kestObject::gsSendEvent);
    QThread *home = QThread::currentThread();
    std::unique_ptr<QThread> worker(QThread::create([&root, home] {
        root->execute();
        root->moveToThread(home);
    }));
    root->moveToThread(worker.get());
    worker->start();
    QTest::qWait(200);
    QVERIFY(worker->isRunning());

    QElapsedTimer clock;
    clock.start();
    if (trigger == QLatin1String("video"))
        emit m_app->stopVideoSignal();
    else if (trigger == QLatin1String("exitAll"))
        emit m_app->exitAll();
    else if (trigger == QLatin1String("preempt"))
        kestObject::endAllOn(root.get(), CLICK);
    else
        root->skipObject = true;
    QVERIFY(worker->wait(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(TestRecord::journal(), stopsScript ? lines("") : lines("after"));
}

QTEST_GUILESS_MAIN(tst_SceneActions)
#include "tst_sceneactions.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The scene and entity actions: the command and payload each one sends, and when it sends none.
#include "kestapplication.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "logcapture.h"
#include "testactions.h"
#include "variablestore.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>

class tst_SceneActions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void payloads_data();
    void payloads();
    void shuffleFollowsOneCycle();
    void videoWaitEnds_data();
    void videoWaitEnds();

private:
    std::unique_ptr<kestApplication> m_app;
};

void tst_SceneActions::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    kestVariables::assignVariable(QStringLiteral("Speed"), QStringLiteral("fast"));
}

void tst_SceneActions::cleanup()
{
    clearRunning();
}

void tst_SceneActions::payloads_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("registered"); // the script is the running one
    QTest::addColumn<bool>("stopped"); // its root was told to stop
    QTest::addColumn<QString>("sent"); // "command=payload", "" for nothing
    QTest::addColumn<QString>("logged"); // "" for no line to look for
    const auto row = [](const char *name, const char *action, const char *args, bool registered, bool stopped,
                         const char *sent, const char *logged = "") {
        QTest::newRow(name) << call(action, args) << registered << stopped << QString::fromUtf8(sent)
                            << QString::fromUtf8(logged);
    };
    row("MoveEntity", "MoveEntity", "e|1|2|3|4", false, false, "moveEntity=e;_;1;_;2;_;3;_;4");
    row("MoveEntity stopped", "MoveEntity", "e|1|2|3|4", true, true, "");
    row("ChangeEntity", "ChangeEntity", "Pear|Text|ripe", true, false, "changeEntity=Pear;_;Text;_;ripe",
        "[LibChangeEntity] : Pear;_;Text;_;ripe");
    row("ChangeEntity empty value", "ChangeEntity", "Pear|Text|-", true, false, "");
    row("ChangeEntity without running script", "ChangeEntity", "Pear|Text|ripe", false, false, "");
    row("RestoreEntityPos runs when stopped", "RestoreEntityPos", "Apple", false, true, "restoreEntityPos=Apple",
        "[LIB] RestoreEntityPos (Apple)");
    row("ChangeBackground", "ChangeBackground", "0x336699", false, false, "changeBackgroundColor=0x336699",
        "[LibChangeBackground] : 0x336699");
    row("ChangeBackground stopped", "ChangeBackground", "0x336699", false, true, "");
    row("CreateBubble", "CreateBubble", "Hi", true, false, "createBubble=Hi", "[LibCreateBubble] : Hi");
    row("ActivateImageBorder", "ActivateImageBorder", "space", true, false, "activateimageborder=space",
        "[LIB] ActivateImageBorder (space)");
    row("TextEntity", "TextEntity", "t|a|b|c|d|e", true, false, "createTextEntity=t;_;a;_;b;_;c;_;d;_;e",
        "[LibTextEntity] : t;_;a;_;b;_;c;_;d;_;e");
    row("IgnoreUserinput", "IgnoreUserinput", "true", true, false, "ignoreUserinput=true", "[IgnoreUserinput] : true");
    row("PngAnimate three children", "PngAnimate", "Cat|walk|f.txt", true, false, "pngAnimate=Cat;_;walk;_;f.txt;_;-1");
    row("PngAnimate four children", "PngAnimate", "Cat|walk|f.txt|3", true, false, "pngAnimate=Cat;_;walk;_;f.txt;_;3");
    row("PngAnimate without running script", "PngAnimate", "Cat|walk|f.txt", false, false, "");
    row("StopPngAnimation", "StopPngAnimation", "walk", true, false, "stopPNGAnimation=walk");
    row("WGLAnimation resolves, runs when stopped", "WGLAnimation", "Speed|slow", false, true, "wglanimate=fast:slow",
        "[LIB] WGLAnimation (fast,slow)");
    row("CreateWebkit runs when stopped", "CreateWebkit", "", false, true, "createWebkit=");
    row("ShowTextfile", "ShowTextfile", "Help|help.txt", true, false, "showTextfile=Help;_;help.txt",
        "[LIB] ShowTextfile (Help;_;help.txt)");
    row("ShowTextfile one argument", "ShowTextfile", "help.txt", true, false, "showTextfile=help.txt;_;");
    row("PlayVideo", "PlayVideo", "in.mp4|x", true, false, "playvideo=in.mp4;_;x", "[LIB] PlayVideo (in.mp4,x)");
    row("VideoPlayer", "VideoPlayer", "v|a.mp4|1", true, false, "videoplayer=v;_;a.mp4;_;1",
        "[LIB] Videoplayer (v;_;a.mp4;_;1)");
    row("VideoPlayerAction two", "VideoPlayerAction", "play|v", true, false, "videoplayeraction=play;_;v",
        "[LIB] VideoPlayerAction (play;_;v)");
    row("VideoPlayerAction four", "VideoPlayerAction", "setsource|v|b.mp4|2", true, false,
        "videoplayeraction=setsource;_;v;_;b.mp4;_;2");
    row("VideoPlayerAction without running script", "VideoPlayerAction", "play|v", false, false, "");
    row("StopMedia", "StopMedia", "v", true, false, "stopSpecificMedia=v", "[LIB] stopSpecificMedia (v)");
    row("StopMedia stopped", "StopMedia", "v", true, true, "");
}

void tst_SceneActions::payloads()
{
    QFETCH(QString, body);
    QFETCH(bool, registered);
    QFETCH(bool, stopped);
    QFETCH(QString, sent);
    QFETCH(QString, logged);
    const auto root = buildRegistered(body, registered);
    root->skipObject = stopped;
    QSignalSpy spy(root.get(), &kestObject::gsSendEvent);
    LogCapture log;
    QCOMPARE(root->execute(), QString());
    QCOMPARE(commands(spy, QLatin1Char('=')), sent.isEmpty() ? QStringList() : QStringList { sent });
    if (!logged.isEmpty())
        QCOMPARE(log.count(logged), 1);
}

void tst_SceneActions::shuffleFollowsOneCycle()
{
    // The scene exchanges the pairs one after the other. They run along one cycle through all
    // positions, so none is paired with itself: three positions have just two such cycles.
    QSet<QString> seen;
    for (int run = 0; run < 40; ++run) {
        const auto root = buildRegistered(call("ShufflePosition", "a;b;c"), false);
        QSignalSpy spy(root.get(), &kestObject::gsSendEvent);
        LogCapture log;
        root->execute();
        const QString payload = spy.value(0).value(1).toString();
        QCOMPARE(log.count(QStringLiteral("[LibShufflePosition] :  ") + payload), 1);
        seen.insert(payload);
    }
    QCOMPARE(seen, QSet<QString>({ QStringLiteral("a;b;_;b;c;_;c;a"), QStringLiteral("a;c;_;b;a;_;c;b") }));

    const auto single = buildRegistered(call("ShufflePosition", "only"), false);
    QSignalSpy spy(single.get(), &kestObject::gsSendEvent);
    single->execute();
    QCOMPARE(commands(spy, QLatin1Char('=')), QStringList { QStringLiteral("shufflePosition=only;only") });
}

void tst_SceneActions::videoWaitEnds_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::newRow("video finished") << "video";
    QTest::newRow("exitAll") << "exitAll";
    QTest::newRow("pre-empted") << "preempt";
    // A stop request that only sets the root's flag, with no signal behind it.
    QTest::newRow("stop flag alone") << "flag";
}

void tst_SceneActions::videoWaitEnds()
{
    QFETCH(QString, trigger);
    const auto root = buildRegistered(QStringLiteral("<ActionList>") + call("VideoPlayerAction", " WaitTillFinished |v")
            + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"),
        true);
    TestRecord::clearJournal();
    QSignalSpy spy(root->childAction(0), &kestObject::gsSendEvent);
    const auto worker = runOnWorker(root.get());
    QVERIFY(drainEvents(root.get()));
    QVERIFY(worker->isRunning());

    if (trigger == QLatin1String("video"))
        emit m_app->stopVideoSignal();
    else if (trigger == QLatin1String("exitAll"))
        emit m_app->exitAll();
    else if (trigger == QLatin1String("preempt"))
        kestObject::endAllOn(root.get(), CLICK);
    else
        root->skipObject = true;
    QVERIFY(worker->wait(5000));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(TestRecord::journal(), trigger == QLatin1String("video") ? lines("after") : lines(""));
}

QTEST_GUILESS_MAIN(tst_SceneActions)
#include "tst_sceneactions.moc"

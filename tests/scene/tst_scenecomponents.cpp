// SPDX-License-Identifier: GPL-3.0-or-later
// The scene's objects as components: what an entity costs until it plays a video, objects given
// back when a scene is left, entity videos, and course values that stay values.
#include "mediafiles.h"
#include "scenefixture.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

using namespace sceneTest;

class tst_SceneComponents : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void mediaPlayerOnlyForVideo();
    void objectsGivenBackOnReset();
    void entityVideo_data();
    void entityVideo();
    void emptyFilename_data();
    void emptyFilename();
    void soundNamesStayValues_data();
    void soundNamesStayValues();

private:
    int countInheriting(const Scene &scene, const char *className) const;

    QTemporaryDir m_dir;
    QString m_base;
};

void tst_SceneComponents::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_base = m_dir.path() + QLatin1Char('/');
    for (const QString &name : { QStringLiteral("a.png"), QStringLiteral("b.png") })
        QVERIFY(!makePicture(m_dir.path(), name, Qt::white).isEmpty());
}

void tst_SceneComponents::init()
{
    watchScriptErrors();
}

void tst_SceneComponents::cleanup()
{
    QVERIFY2(scriptErrors().isEmpty(), qPrintable(scriptErrors().join(QLatin1Char('\n'))));
}

int tst_SceneComponents::countInheriting(const Scene &scene, const char *className) const
{
    int count = 0;
    for (QObject *object : scene.root()->findChildren<QObject *>()) {
        if (object->inherits(className))
            ++count;
    }
    return count;
}

void tst_SceneComponents::mediaPlayerOnlyForVideo()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    QList<QStringList> entities;
    for (int i = 0; i < 30; ++i)
        entities << QStringList { QStringLiteral("Name=E%1").arg(i), QStringLiteral("Width=10"),
            QStringLiteral("Height=10") };
    scene.addEntities(entities);
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children.length")).toInt(), 30);
    QCOMPARE(countInheriting(scene, "QDeclarativeVideoOutput"), 0);

    // The entity that is given a video gets its player, and only that one.
    scene.call("actionVideoPlayer", QStringLiteral("setsource;_;E7;_;") + m_base + QStringLiteral("none.ogv;_;0"));
    QCOMPARE(countInheriting(scene, "QDeclarativeVideoOutput"), 1);
    auto *output = scene.root()->findChild<QQuickItem *>(QStringLiteral("E7"))->childItems().at(2);
    QCOMPARE(output->z(), 6.0);
    QVERIFY(!output->isVisible());
}

void tst_SceneComponents::objectsGivenBackOnReset()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->addEntity(entityElement(attrs("Name=Menu Width=100 Height=100 Text=m")), true, QString());
    // As the main loop does: what destroy() handed over is deleted, at once and without waiting.
    const auto deleteHandedOver = [] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); };
    deleteHandedOver();
    const int withMenu = scene.root()->findChildren<QObject *>().size();

    QList<int> counts;
    for (int round = 0; round < 4; ++round) {
        QList<QStringList> entities;
        for (int i = 0; i < 20; ++i)
            entities << QStringList { QStringLiteral("Name=E%1").arg(i), QStringLiteral("X=%1").arg(i * 50),
                QStringLiteral("Width=40"), QStringLiteral("Height=40"), QStringLiteral("Text=t%1").arg(i) };
        scene.addEntities(entities);
        scene.call("pngAnimate", QStringLiteral("E1;_;walk;_;%1a.png,%1b.png;_;-1").arg(m_base));
        scene.view->playAudio(
            QUrl::fromLocalFile(m_base + QStringLiteral("none.wav")).toString() + QStringLiteral(";_;%1").arg(round));
        scene.call("actionVideoPlayer", QStringLiteral("setsource;_;E2;_;none.ogv;_;0"));
        QVERIFY(scene.root()->findChildren<QObject *>().size() > withMenu + 20);
        scene.view->subprojectReset();
        deleteHandedOver();
        counts << scene.root()->findChildren<QObject *>().size();
    }
    // Only the menu button stays, round after round.
    QCOMPARE(counts, QList<int>({ withMenu, withMenu, withMenu, withMenu }));
    scene.view->projectReset();
    deleteHandedOver();
    QVERIFY(scene.root()->findChildren<QObject *>().size() < withMenu);
}

void tst_SceneComponents::entityVideo_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<int>("minimumMs");

    // The clip lasts half a second.
    QTest::newRow("plays to its end") << QStringLiteral("clip.ogv") << 0 << false << 400;
    QTest::newRow("repeat 1 plays twice") << QStringLiteral("clip.ogv") << 1 << false << 900;
    QTest::newRow("stopped") << QStringLiteral("clip.ogv") << 0 << true << 0;
    QTest::newRow("unplayable file ends when played") << QStringLiteral("missing.ogv") << 0 << false << 0;
}

void tst_SceneComponents::entityVideo()
{
    QFETCH(QString, file);
    QFETCH(int, repeat);
    QFETCH(bool, stop);
    QFETCH(int, minimumMs);

    if (makeVideo(m_dir.path(), QStringLiteral("clip.ogv"), 15).isEmpty())
        QSKIP("gst-launch-1.0 with theoraenc and oggmux is needed to make a test video");
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=Screen X=100 Y=100 Width=320 Height=240") });
    QSignalSpy finished(scene.view.get(), &WebView::finishedVideoSignal);
    scene.view->videoPlayerAction(
        QStringLiteral("setsource;_;Screen;_;") + file + QStringLiteral(";_;") + QString::number(repeat));
    // Once the player has loaded its file or found it unplayable, an unplayable file still tells
    // nobody until it is asked to play. (3 is MediaPlayer.Loaded.)
    const QString entity = QStringLiteral("dynamicEntityLayer.children[0]");
    QTRY_VERIFY_WITH_TIMEOUT(
        scene.eval(entity + QStringLiteral(".video.broken || ") + entity + QStringLiteral(".video.status === 3"))
            .toBool(),
        15000);
    QCOMPARE(finished.size(), 0);

    QElapsedTimer clock;
    clock.start();
    scene.view->videoPlayerAction(QStringLiteral("play;_;Screen"));
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.videoIsPlaying")).toBool(), finished.isEmpty());
    if (stop) {
        QTRY_COMPARE_WITH_TIMEOUT(
            scene.eval(QStringLiteral("dynamicEntityLayer.children[0].video.playbackState")).toInt(), 1, 10000);
        scene.view->videoPlayerAction(QStringLiteral("stop;_;Screen"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
    QVERIFY2(clock.elapsed() >= minimumMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.videoIsPlaying")).toBool(), false);
    QCOMPARE(scene.eval(entity + QStringLiteral(".video.visible")).toBool(), false);
    // Nothing plays on that could end a second time, and once the player is gone nothing is left
    // that could report at all.
    QCOMPARE(scene.eval(entity + QStringLiteral(".video.playbackState")).toInt(), 0);
    QPointer<QObject> player = scene.eval(entity + QStringLiteral(".video")).value<QObject *>();
    QVERIFY(player);
    scene.view->subprojectReset();
    QTRY_VERIFY_WITH_TIMEOUT(player.isNull(), 10000);
    QCOMPARE(finished.size(), 1);
}

void tst_SceneComponents::emptyFilename_data()
{
    QTest::addColumn<bool>("menu");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("shown");

    QTest::newRow("entity: a new picture") << false << QStringLiteral("b.png") << QStringLiteral("b.png");
    QTest::newRow("entity: empty clears") << false << QString() << QString();
    QTest::newRow("menu button: a new picture") << true << QStringLiteral("b.png") << QStringLiteral("b.png");
    QTest::newRow("menu button: empty keeps") << true << QString() << QStringLiteral("a.png");
}

void tst_SceneComponents::emptyFilename()
{
    QFETCH(bool, menu);
    QFETCH(QString, file);
    QFETCH(QString, shown);

    Scene scene;
    QVERIFY(scene.start(m_base));
    const QStringList attributes = attrs("Name=Pic Width=10 Height=10 Filename=a.png");
    if (menu)
        scene.view->addEntity(entityElement(attributes), true, QString());
    else
        scene.addEntities({ attributes });
    // Straight to the document: the bridge would make the empty name a folder path.
    scene.call(menu ? "changeMenuEntity" : "changeEntity",
        QStringLiteral("Pic;_;filename;_;") + (file.isEmpty() ? QString() : m_base + file) + QStringLiteral(";_;"));
    const QString layer = menu ? QStringLiteral("dynamicMenuLayer") : QStringLiteral("dynamicEntityLayer");
    const QUrl source = scene.eval(layer + QStringLiteral(".children[0].children[0].source")).toUrl();
    QCOMPARE(source.isEmpty() ? QString() : source.fileName(), shown);
}

void tst_SceneComponents::soundNamesStayValues_data()
{
    QTest::addColumn<QString>("file");

    QTest::newRow("quotes and braces") << QStringLiteral(
        "a\"}\nAudio { Component.onCompleted: mycanvas.canGoOn = false }//");
    QTest::newRow("backslashes and separators") << QStringLiteral("C:\\x\\\"\u2028y.wav");
}

void tst_SceneComponents::soundNamesStayValues()
{
    QFETCH(QString, file);

    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({});
    QSignalSpy finished(scene.view.get(), &WebView::finishedAudioSignal);
    const QString payload = m_base + file + QStringLiteral(";_;7");
    scene.view->playAudio(payload);
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 1);
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers[0].name")).toString(), payload);
    // One player, under the name the scene gave it.
    QObject *player = scene.object(QStringLiteral("qmlaudioplayer-audioplayer_0"));
    QVERIFY(player);
    QCOMPARE(player->property("name").toString(), payload);
    // The file does not exist: the player reports exactly the text it was given.
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(finished.first().first().toString(), payload);
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.canGoOn")).toBool(), true);
}

QTEST_MAIN(tst_SceneComponents)
#include "tst_scenecomponents.moc"

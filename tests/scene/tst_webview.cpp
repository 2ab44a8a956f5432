// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcapture.h"
#include "scenefixture.h"
#include "testactions.h"

#include <QTemporaryDir>
#include <QTest>

using namespace sceneTest;

class tst_WebView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void callsBeforeLoadArriveInOrder();
    void entityOptionList_data();
    void entityOptionList();
    void menuEntity();
    void resolvePath_data();
    void resolvePath();
    void fitToHost_data();
    void fitToHost();
    void entitiesFollowTheSceneSize();
    void changeEntityRouting();
    void frameListExpansion();
    void showTextfile_data();
    void showTextfile();
    void clearColor_data();
    void clearColor();
    void documentSignalsRelayed();
    void resetsForgetCollectedEntities();
    void hostDeletedFirst();

private:
    QTemporaryDir m_dir;
    QString m_base;
};

void tst_WebView::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_base = m_dir.path() + QLatin1Char('/');
}

void tst_WebView::init()
{
    watchScriptErrors();
}

void tst_WebView::cleanup()
{
    QVERIFY2(scriptErrors().isEmpty(), qPrintable(scriptErrors().join(QLatin1Char('\n'))));
}

void tst_WebView::callsBeforeLoadArriveInOrder()
{
    QWidget host;
    host.resize(1600, 900);
    host.show();
    WebView view(m_base, &host);
    QVERIFY(!view.isLoaded());

    view.addEntity(entityElement(attrs("Name=A X=10 Y=20 Width=100 Height=100")), false, QString());
    view.initEntities();
    view.changeEntity(QStringLiteral("A;_;X;_;100"));
    view.changeEntity(QStringLiteral("A;_;X;_;300"));
    // A document that does not load does not gather calls without end: the queue stops at its
    // bound, with one warning.
    LogCapture log;
    const int queuedBefore = view.pendingCalls();
    for (int i = 0; i < WebView::MaxPendingCalls; ++i)
        view.changeEntity(QStringLiteral("A;_;X;_;%1").arg(1000 + i));
    QCOMPARE(view.pendingCalls(), WebView::MaxPendingCalls);
    QCOMPARE(log.startingWith(QStringLiteral("The scene document has not loaded")).size(), 1);
    const double lastQueued = 1000 + WebView::MaxPendingCalls - queuedBefore - 1;

    // When the load is announced, every queued call has already reached the scene, in order.
    QVariant xAtLoad;
    int loads = 0;
    connect(&view, &WebView::finishedLoad, this, [&]() {
        ++loads;
        QObject *entity = view.quickView()->rootObject()->findChild<QObject *>(QStringLiteral("A"));
        xAtLoad = entity ? entity->property("lastSetX") : QVariant();
    });
    QTRY_VERIFY_WITH_TIMEOUT(view.isLoaded(), 10000);
    QCOMPARE(loads, 1);
    QCOMPARE(xAtLoad.toDouble(), lastQueued);
    QCOMPARE(view.pendingCalls(), 0);

    // Once loaded, calls are not queued any more.
    view.changeEntity(QStringLiteral("A;_;X;_;50"));
    QCOMPARE(view.quickView()->rootObject()->findChild<QObject *>(QStringLiteral("A"))->property("lastSetX").toDouble(),
        50.0);
    // A second announcement could only be on its way in an event posted before now.
    QVERIFY(drainEvents(&view));
    QCOMPARE(loads, 1);
}

void tst_WebView::entityOptionList_data()
{
    QTest::addColumn<QStringList>("attributes");
    QTest::addColumn<QString>("filenameSlot");

    const QString noValue = WebView::noValue();
    QTest::newRow("image filename when filename is empty")
        << attrs("Filename= ImageFilename=pics\\b.JPG") << QStringLiteral("C:/course/pics/b.JPG");
    QTest::newRow("png kept") << attrs("Filename=img\\a.png") << QStringLiteral("C:/course/img/a.png");
    QTest::newRow("video dropped") << attrs("Filename=clip.mp4") << QString();
    QTest::newRow("neither attribute") << QStringList {} << noValue;
    QTest::newRow("empty filename, no image filename") << attrs("Filename=") << noValue;
    QTest::newRow("filename wins over image filename")
        << attrs("Filename=a.jpg ImageFilename=b.png") << QStringLiteral("C:/course/a.jpg");
}

void tst_WebView::entityOptionList()
{
    QFETCH(QStringList, attributes);
    QFETCH(QString, filenameSlot);

    QWidget host;
    WebView view(QStringLiteral("C:/course/"), &host);
    view.addEntity(entityElement(attributes << QStringLiteral("Name=E")), false, QStringLiteral("top:800"));
    QCOMPARE(view.pendingEntities().size(), 1);
    const QVariantList record = view.pendingEntities().first().toList();
    QCOMPARE(record.size(), int(WebView::EntityRecordSize));
    QCOMPARE(record.at(WebView::RecordFile).toString(), filenameSlot);
    QCOMPARE(record.at(0).toString(), QStringLiteral("E"));
    QVERIFY(view.menuEntityNames().isEmpty());
}

void tst_WebView::menuEntity()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->addEntity(
        entityElement(attrs("Name=Btn1 X=10 Y=10 Width=100 Height=50 Subproject=x")), true, QStringLiteral("top:800"));
    QCOMPARE(scene.view->menuEntityNames(), QStringList { QStringLiteral("Btn1") });
    QVERIFY(scene.view->pendingEntities().isEmpty());
    // Created at once, in the menu layer.
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children.length")).toInt(), 1);
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children[0].objectName")).toString(), QStringLiteral("Btn1"));
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children[0].z")).toInt(), 200);
}

void tst_WebView::resolvePath_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("resolved");

    QTest::newRow("backslashes") << QStringLiteral("C:/course/") << QStringLiteral("img\\a.png")
                                 << QStringLiteral("C:/course/img/a.png");
    QTest::newRow("leading slash") << QStringLiteral("C:/course/") << QStringLiteral("/img/a.png")
                                   << QStringLiteral("C:/course/img/a.png");
    QTest::newRow("leading backslash") << QStringLiteral("/srv/c/") << QStringLiteral("\\a.wav")
                                       << QStringLiteral("/srv/c/a.wav");
    QTest::newRow("base without separator")
        << QStringLiteral("/srv/course") << QStringLiteral("a.png") << QStringLiteral("/srv/course/a.png");
}

void tst_WebView::resolvePath()
{
    QFETCH(QString, base);
    QFETCH(QString, path);
    QFETCH(QString, resolved);
    QWidget host;
    WebView view(base, &host);
    QCOMPARE(view.resolvePath(path), resolved);
}

void tst_WebView::fitToHost_data()
{
    QTest::addColumn<QSize>("hostSize");
    QTest::addColumn<QRect>("scene");

    QTest::newRow("1920x1200") << QSize(1920, 1200) << QRect(0, 60, 1920, 1080);
    QTest::newRow("2560x1080") << QSize(2560, 1080) << QRect(320, 0, 1920, 1080);
    QTest::newRow("exactly 16:9") << QSize(1600, 900) << QRect(0, 0, 1600, 900);
    QTest::newRow("no height") << QSize(800, 0) << QRect(400, 0, 0, 0);
}

void tst_WebView::fitToHost()
{
    QFETCH(QSize, hostSize);
    QFETCH(QRect, scene);
    QWidget host;
    host.resize(hostSize);
    WebView view(m_base, &host);
    view.fitToHost();
    QCOMPARE(view.container()->geometry(), scene);
}

void tst_WebView::entitiesFollowTheSceneSize()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->addEntity(entityElement(attrs("Name=M X=1500 Y=0 Width=100 Height=90")), true, QString());
    scene.addEntities({ attrs("Name=E X=800 Y=450 Width=160 Height=90 Text=t TextSize=32") });
    auto *entity = qobject_cast<QQuickItem *>(scene.object(QStringLiteral("E")));
    QCOMPARE(entity->position(), QPointF(800, 450));

    // Frame units map to the new size; text sizes follow the width.
    scene.host->resize(800, 600);
    scene.view->fitToHost();
    QCOMPARE(scene.view->container()->geometry(), QRect(0, 75, 800, 450));
    QTRY_COMPARE(scene.root()->width(), 800.0);
    QCOMPARE(entity->position(), QPointF(400, 225));
    QCOMPARE(entity->size(), QSizeF(80, 45));
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children[0].children[1].font.pixelSize")).toInt(), 16);
    QCOMPARE(qobject_cast<QQuickItem *>(scene.object(QStringLiteral("M")))->x(), 750.0);
}

void tst_WebView::changeEntityRouting()
{
    Scene scene;
    QVERIFY(scene.start(QStringLiteral("C:/course/")));
    scene.view->addEntity(entityElement(attrs("Name=Btn1 Width=10 Height=10")), true, QString());
    scene.addEntities({ attrs("Name=E1 Width=10 Height=10") });

    scene.view->changeEntity(QStringLiteral("Btn1;_;ImageFilename;_;x\\y.png"));
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children[0].children[0].source")).toUrl(),
        QUrl(QStringLiteral("file:///C:/course/x/y.png")));

    // The same name among the ordinary entities would not be touched by a menu change.
    scene.view->changeEntity(QStringLiteral("E1;_;Filename;_;pics\\z.png"));
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children[0].children[0].source")).toUrl(),
        QUrl(QStringLiteral("file:///C:/course/pics/z.png")));
    scene.view->changeEntity(QStringLiteral("E1;_;X;_;120"));
    QCOMPARE(scene.object(QStringLiteral("E1"))->property("lastSetX").toDouble(), 120.0);
    QCOMPARE(scene.object(QStringLiteral("E1"))->property("realX").toDouble(), 120.0);
    QCOMPARE(scene.object(QStringLiteral("E1"))->property("x").toDouble(), 120.0);
    // A menu change does not reach ordinary entities.
    scene.view->changeEntity(QStringLiteral("Btn1;_;X;_;77"));
    QCOMPARE(scene.object(QStringLiteral("Btn1"))->property("lastSetX").toDouble(), 77.0);
    QCOMPARE(scene.object(QStringLiteral("E1"))->property("lastSetX").toDouble(), 120.0);
}

void tst_WebView::frameListExpansion()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=A Width=10 Height=10") });
    writeFile(m_base + QStringLiteral("frames.txt"), "f\\\\a.png,f\\b.png,\n c.png \n\nlater.png\n");

    scene.view->pngAnimate(QStringLiteral("A;_;walk;_;frames.txt;_;1"));
    QObject *animator = scene.object(QStringLiteral("walk"));
    QVERIFY(animator);
    const QStringList frames = animator->property("frames").toStringList();
    QCOMPARE(frames,
        QStringList({ m_base + QStringLiteral("f/a.png"), m_base + QStringLiteral("f/b.png"),
            m_base + QStringLiteral("c.png") }));
    QCOMPARE(animator->property("repeat").toInt(), 1);

    // A list that does not open gives an animation without frames.
    scene.view->pngAnimate(QStringLiteral("A;_;none;_;missing.txt;_;-1"));
    QObject *empty = scene.object(QStringLiteral("none"));
    QVERIFY(empty);
    QCOMPARE(empty->property("frameCount").toInt(), 0);
    QTRY_VERIFY(!empty->property("running").toBool());
}

void tst_WebView::showTextfile_data()
{
    QTest::addColumn<QString>("payload");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("headline");
    QTest::addColumn<QString>("text");

    QTest::newRow("title and file") << QStringLiteral("Hilfe;_;help.txt") << true << QStringLiteral("Hilfe")
                                    << QStringLiteral("Grüße aus\nder Datei\n");
    QTest::newRow("file only") << QStringLiteral("help.txt;_;") << true << QStringLiteral("Info:")
                               << QStringLiteral("Grüße aus\nder Datei\n");
    QTest::newRow("text stops at a separator")
        << QStringLiteral("T;_;split.txt") << true << QStringLiteral("T") << QStringLiteral("before ");
    QTest::newRow("missing file") << QStringLiteral("T;_;missing.txt") << false << QString() << QString();
    QTest::newRow("one field") << QStringLiteral("help.txt") << false << QString() << QString();
}

void tst_WebView::showTextfile()
{
    QFETCH(QString, payload);
    QFETCH(bool, shown);
    QFETCH(QString, headline);
    QFETCH(QString, text);

    writeFile(m_base + QStringLiteral("help.txt"), QStringLiteral("Grüße aus\nder Datei").toUtf8());
    writeFile(m_base + QStringLiteral("split.txt"), "before ;_; after");
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->showTextfile(payload);
    QObject *help = scene.object(QStringLiteral("helpSite"));
    QCOMPARE(help->property("visible").toBool(), shown);
    if (shown) {
        QCOMPARE(scene.object(QStringLiteral("displayHeadline"))->property("text").toString(), headline);
        QCOMPARE(scene.object(QStringLiteral("displayText"))->property("text").toString(), text);
    }
}

void tst_WebView::clearColor_data()
{
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QColor>("color");

    QTest::newRow("empty is black") << QString() << QColor(Qt::black);
    QTest::newRow("0x notation") << QStringLiteral("0x3366cc") << QColor(0x33, 0x66, 0xcc);
    QTest::newRow("hash notation") << QStringLiteral("#00ff00") << QColor(Qt::green);
}

void tst_WebView::clearColor()
{
    QFETCH(QString, payload);
    QFETCH(QColor, color);
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->setClearColor(QStringLiteral("#ffffff"));
    scene.view->setClearColor(payload);
    QCOMPARE(scene.eval(QStringLiteral("dynamicBackground.color")).value<QColor>(), color);
}

void tst_WebView::documentSignalsRelayed()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    QSignalSpy dropped(scene.view.get(), &WebView::dropEntity);
    QSignalSpy reset(scene.view.get(), &WebView::finishedReset);
    QSignalSpy video(scene.view.get(), &WebView::finishedVideoSignal);

    QMetaObject::invokeMethod(scene.canvas(), "clickedEntity", Q_ARG(QString, QStringLiteral("A")));
    QMetaObject::invokeMethod(
        scene.canvas(), "dropEntity", Q_ARG(QString, QStringLiteral("A")), Q_ARG(QString, QStringLiteral("B")));
    QMetaObject::invokeMethod(scene.root(), "finishedVideo");
    scene.view->subprojectReset();

    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked.first(), QVariantList({ QStringLiteral("A"), true }));
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(dropped.first(), QVariantList({ QStringLiteral("A"), QStringLiteral("B"), true }));
    QCOMPARE(video.size(), 1);
    QCOMPARE(reset.size(), 1);
}

void tst_WebView::resetsForgetCollectedEntities()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->addEntity(entityElement(attrs("Name=M")), true, QString());
    scene.view->addEntity(entityElement(attrs("Name=Old")), false, QString());
    scene.view->subprojectReset();
    QVERIFY(scene.view->pendingEntities().isEmpty());
    QCOMPARE(scene.view->menuEntityNames(), QStringList { QStringLiteral("M") });
    scene.view->projectReset();
    QVERIFY(scene.view->menuEntityNames().isEmpty());
}

void tst_WebView::hostDeletedFirst()
{
    auto host = std::make_unique<QWidget>();
    WebView view(m_base, host.get());
    QPointer<QQuickView> quick = view.quickView();
    host.reset();
    QVERIFY(!view.container());
    QVERIFY(!quick);
    // Calls after the host went away reach nothing and do not crash.
    view.fitToHost();
    view.stopMedia();
}

QTEST_MAIN(tst_WebView)
#include "tst_webview.moc"

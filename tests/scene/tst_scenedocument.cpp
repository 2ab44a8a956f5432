// SPDX-License-Identifier: GPL-3.0-or-later
#include "mediafiles.h"
#include "scenefixture.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

using namespace sceneTest;

class tst_SceneDocument : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layers();
    void hitTesting_data();
    void hitTesting();
    void dragAndDrop_data();
    void dragAndDrop();
    void hoverReportsEachEntry();
    void onlyTheLeftButtonClicks();
    void skipAudioEntity();
    void helpPage();
    void entityColour_data();
    void entityColour();
    void entityNumbers();
    void replacedPictureShown_data();
    void replacedPictureShown();
    void courseValuesStayInsideStrings_data();
    void courseValuesStayInsideStrings();
    void frameAnimator_data();
    void frameAnimator();
    void shufflePosition();
    void resets();
    void shortPayloads_data();
    void shortPayloads();
    void soundPlaysToTheEnd();
    void stopMediaEndsEverySound();
    void unplayableSoundReportsFinished();
    void muteReachesEveryPlayer();
    void videoEndsWithFinishedVideo();
    void stopMediaEndsVideo();

private:
    QTemporaryDir m_dir;
    QString m_base;
};

void tst_SceneDocument::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_base = m_dir.path() + QLatin1Char('/');
}

void tst_SceneDocument::init()
{
    watchScriptErrors();
}

void tst_SceneDocument::cleanup()
{
    QVERIFY2(scriptErrors().isEmpty(), qPrintable(scriptErrors().join(QLatin1Char('\n'))));
}

void tst_SceneDocument::layers()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    QCOMPARE(scene.canvas()->z(), 0.0);
    const QStringList order { QStringLiteral("dynamicEntityLayer.z"), QStringLiteral("dynamicTextLayer.z"),
        QStringLiteral("dynamicVideoLayer.z"), QStringLiteral("dynamicMenuLayer.z"),
        QStringLiteral("dynamicAudioLayer.z") };
    QList<double> z;
    for (const QString &expression : order)
        z << scene.eval(expression).toDouble();
    QCOMPARE(z, QList<double>({ 1, 2, 3, 4, 200 }));
    QObject *help = scene.object(QStringLiteral("helpSite"));
    QVERIFY(!help->property("visible").toBool());
    QCOMPARE(help->property("z").toDouble(), 299.0);
}

void tst_SceneDocument::hitTesting_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QString>("hit");

    QTest::newRow("only the low one") << QPoint(150, 150) << QStringLiteral("Low");
    QTest::newRow("overlap goes to the higher z") << QPoint(250, 250) << QStringLiteral("High");
    QTest::newRow("equal z: the later one is on top") << QPoint(650, 150) << QStringLiteral("Later");
    QTest::newRow("left edge is outside") << QPoint(100, 150) << QString();
    QTest::newRow("inactive entity is passed over") << QPoint(850, 150) << QStringLiteral("Below");
    QTest::newRow("invisible entity is passed over") << QPoint(1050, 150) << QString();
    QTest::newRow("menu button") << QPoint(1450, 50) << QStringLiteral("Menu");
    QTest::newRow("nothing") << QPoint(800, 800) << QString();
}

void tst_SceneDocument::hitTesting()
{
    QFETCH(QPoint, point);
    QFETCH(QString, hit);

    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->addEntity(
        entityElement(attrs("Name=Menu X=1400 Y=0 Width=100 Height=100")), true, QStringLiteral("top:800"));
    auto box = [](const QString &name, int x, int y, int z) {
        return QStringList { QStringLiteral("Name=") + name, QStringLiteral("X=%1").arg(x),
            QStringLiteral("Y=%1").arg(y), QStringLiteral("Z=%1").arg(z), QStringLiteral("Width=200"),
            QStringLiteral("Height=200") };
    };
    scene.addEntities({ box(QStringLiteral("High"), 200, 200, 5), box(QStringLiteral("Low"), 100, 100, 1),
        box(QStringLiteral("Earlier"), 600, 100, 3), box(QStringLiteral("Later"), 600, 100, 3),
        box(QStringLiteral("Below"), 800, 100, 1), box(QStringLiteral("Inactive"), 800, 100, 9),
        box(QStringLiteral("Invisible"), 1000, 100, 1) });
    scene.view->changeEntity(QStringLiteral("Inactive;_;StateActive;_;false"));
    scene.view->changeEntity(QStringLiteral("Invisible;_;Opacity;_;0"));

    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    QTest::mouseClick(scene.view->quickView(), Qt::LeftButton, Qt::NoModifier, point);
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked.first().first().toString(), hit);
    QCOMPARE(clicked.first().last().toBool(), true);
}

void tst_SceneDocument::hoverReportsEachEntry()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=A X=100 Y=100 Z=1 Width=200 Height=200"),
        attrs("Name=B X=400 Y=100 Z=1 Width=200 Height=200"), attrs("Name=Off X=700 Y=100 Z=1 Width=200 Height=200") });
    scene.view->changeEntity(QStringLiteral("Off;_;StateActive;_;false"));
    QSignalSpy hovered(scene.view.get(), &WebView::hoverEntity);
    QQuickView *window = scene.view->quickView();
    // Into A, within A, out to nothing, into B, onto the inactive one, back into A.
    for (const QPoint &at :
        { QPoint(150, 150), QPoint(200, 200), QPoint(350, 150), QPoint(450, 150), QPoint(750, 150), QPoint(250, 150) })
        QTest::mouseMove(window, at);
    QStringList names;
    for (const QList<QVariant> &signal : hovered)
        names << signal.first().toString();
    QCOMPARE(names, QStringList({ QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A") }));
    QVERIFY(scene.eval(QStringLiteral("mycanvas.hoveredEntity")).toString() == QLatin1String("A"));
}

void tst_SceneDocument::onlyTheLeftButtonClicks()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=A X=100 Y=100 Z=1 Width=200 Height=200") });
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    QTest::mouseClick(scene.view->quickView(), Qt::RightButton, Qt::NoModifier, QPoint(150, 150));
    QTest::mouseClick(scene.view->quickView(), Qt::MiddleButton, Qt::NoModifier, QPoint(150, 150));
    QCOMPARE(clicked.size(), 0);
    QTest::mouseClick(scene.view->quickView(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 150));
    QCOMPARE(clicked.size(), 1);
}

void tst_SceneDocument::dragAndDrop_data()
{
    QTest::addColumn<QPoint>("moveTo");
    QTest::addColumn<bool>("dragged");
    QTest::addColumn<QString>("target");

    QTest::newRow("ten pixels is a click") << QPoint(160, 150) << false << QString();
    QTest::newRow("eleven pixels is a drag") << QPoint(161, 150) << true << QString();
    QTest::newRow("dropped on the target") << QPoint(550, 150) << true << QStringLiteral("Target");
    // The target's z is above the dragged entity's: the drop is still on the target.
    QTest::newRow("dropped on a higher target") << QPoint(950, 150) << true << QStringLiteral("HighTarget");
}

void tst_SceneDocument::dragAndDrop()
{
    QFETCH(QPoint, moveTo);
    QFETCH(bool, dragged);
    QFETCH(QString, target);

    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=Piece X=100 Y=100 Z=2 Width=100 Height=100 DragDrop=True"),
        attrs("Name=Target X=500 Y=100 Z=1 Width=100 Height=100"),
        attrs("Name=HighTarget X=900 Y=100 Z=5 Width=100 Height=100") });
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    QSignalSpy dropped(scene.view.get(), &WebView::dropEntity);

    scene.view->sendTouch(QPoint(150, 150), true);
    scene.view->sendTouchMove(moveTo);
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.dragging")).toBool(), dragged);
    scene.view->sendTouchMove(moveTo);
    scene.view->sendTouch(moveTo, false);

    // The click came with the press, and only then.
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked.first().first().toString(), QStringLiteral("Piece"));
    QObject *piece = scene.object(QStringLiteral("Piece"));
    if (dragged) {
        QCOMPARE(piece->property("lastSetX").toDouble(), moveTo.x() - 50.0);
        // The restore position is where it started.
        QCOMPARE(piece->property("realX").toDouble(), 100.0);
    } else {
        QCOMPARE(piece->property("lastSetX").toDouble(), 100.0);
    }
    QCOMPARE(dropped.size(), target.isEmpty() ? 0 : 1);
    if (!target.isEmpty())
        QCOMPARE(dropped.first(), QVariantList({ QStringLiteral("Piece"), target, true }));
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.dragging")).toBool(), false);
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.fingerDownPos[0]")).toInt(), -1);

    scene.view->restoreEntityPos(QStringLiteral("Piece"));
    QCOMPARE(piece->property("lastSetX").toDouble(), 100.0);
}

void tst_SceneDocument::skipAudioEntity()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=ENTITY_SkipAudio Width=100 Height=100") });
    scene.view->playAudio(QStringLiteral("file:") + m_base + QStringLiteral("never.wav;_;1"));
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 1);
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    QTest::mouseClick(scene.view->quickView(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QCOMPARE(clicked.size(), 0);
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 0);
}

void tst_SceneDocument::helpPage()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=Under Width=1600 Height=900") });
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    scene.call("showHelpSite", QStringLiteral("Head;_;Body"));
    QObject *help = scene.object(QStringLiteral("helpSite"));
    QVERIFY(help->property("visible").toBool());

    // Showing again replaces the texts and stays visible.
    scene.call("showHelpSite", QStringLiteral("Head 2;_;Body 2"));
    QCOMPARE(scene.object(QStringLiteral("displayHeadline"))->property("text").toString(), QStringLiteral("Head 2"));

    auto *icon = qobject_cast<QQuickItem *>(scene.object(QStringLiteral("closeIcon")));
    QVERIFY(icon);
    QCOMPARE(icon->width(), 256.0);
    QCOMPARE(icon->x(), 1600.0 - 256 - 40);
    QCOMPARE(icon->y(), 30.0);

    // Presses elsewhere and on the icon's very edge are swallowed and close nothing.
    // Both presses are handled before these calls return: had either begun the page's fade, its
    // animation would be running now.
    QObject *fade = nullptr;
    for (QObject *child : help->children()) {
        if (child->inherits("QQuickNumberAnimation"))
            fade = child;
    }
    QVERIFY(fade);
    QTest::mouseClick(scene.view->quickView(), Qt::LeftButton, Qt::NoModifier, QPoint(400, 400));
    scene.touch(int(icon->x()), int(icon->y() + 100));
    QVERIFY(!fade->property("running").toBool());
    QVERIFY(help->property("visible").toBool());
    QCOMPARE(help->property("opacity").toDouble(), 0.98);
    QCOMPARE(clicked.size(), 0);

    scene.touch(int(icon->x() + 1), int(icon->y() + 100));
    QVERIFY(fade->property("running").toBool());
    QTRY_VERIFY_WITH_TIMEOUT(!help->property("visible").toBool(), 10000);
    QCOMPARE(clicked.size(), 0);

    // Open again after the fade: full opacity, and the scene below answers once it is closed.
    scene.call("showHelpSite", QStringLiteral("Again;_;"));
    QCOMPARE(help->property("opacity").toDouble(), 0.98);
    QVERIFY(help->property("visible").toBool());
}

void tst_SceneDocument::entityColour_data()
{
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QColor>("drawn");

    const QColor background(0, 0, 255);
    QTest::newRow("named colour is transparent") << QStringLiteral("red") << background;
    QTest::newRow("hash colour") << QStringLiteral("#ff0000") << QColor(255, 0, 0);
    QTest::newRow("broken hash colour is transparent") << QStringLiteral("#zz0000") << background;
    QTest::newRow("no colour is transparent") << QString() << background;
}

void tst_SceneDocument::entityColour()
{
    QFETCH(QString, colour);
    QFETCH(QColor, drawn);

    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->setClearColor(QStringLiteral("0x0000ff"));
    QStringList entity = attrs("Name=Box X=100 Y=100 Width=200 Height=200");
    if (!colour.isNull())
        entity << QStringLiteral("Color=") + colour;
    scene.addEntities({ entity });
    const QImage image = scene.grab();
    QCOMPARE(image.pixelColor(200, 200).rgb(), drawn.rgb());
    QCOMPARE(image.pixelColor(50, 50).rgb(), QColor(0, 0, 255).rgb());
}

// Numbers of the course are read as the document reads any value: plain decimals and the
// rest alike.
void tst_SceneDocument::entityNumbers()
{
    const QList<QPair<QString, double>> cases { { QStringLiteral("12"), 12 }, { QStringLiteral("-4.5"), -4.5 },
        { QStringLiteral("007"), 7 }, { QStringLiteral("0x20"), 32 }, { QStringLiteral("1e2"), 100 },
        { QStringLiteral("5."), 5 }, { QStringLiteral("abc"), 0 }, { QStringLiteral("Infinity"), 0 },
        { QString(), 0 } };
    Scene scene;
    QVERIFY(scene.start(m_base));
    QList<QStringList> entities;
    for (int i = 0; i < cases.size(); ++i)
        entities << (attrs("Y=10 Width=50 Height=50")
            << QStringLiteral("Name=N%1").arg(i) << QStringLiteral("X=") + cases.at(i).first
            << QStringLiteral("TextSize=") + cases.at(i).first);
    scene.addEntities(entities);
    for (int i = 0; i < cases.size(); ++i) {
        QObject *entity = scene.object(QStringLiteral("N%1").arg(i));
        QVERIFY(entity);
        QCOMPARE(entity->property("lastSetX").toDouble(), cases.at(i).second);
        // A text size that is no number is the default.
        QCOMPARE(entity->property("textSize").toDouble(), cases.at(i).second == 0 ? 24 : cases.at(i).second);
    }
}

void tst_SceneDocument::replacedPictureShown_data()
{
    QTest::addColumn<int>("side"); // of the new picture, in pixels
    QTest::addColumn<int>("secondsLater"); // its modification time after the old one's
    QTest::addColumn<QColor>("shown");

    QTest::newRow("other size") << 8 << 2 << QColor(Qt::blue);
    QTest::newRow("same size, later") << 4 << 2 << QColor(Qt::blue);
    QTest::newRow("same size and time: taken as unchanged") << 4 << 0 << QColor(Qt::red);
}

// A scene entered again after its picture file was replaced shows the new picture, by the file's
// size or time; only a file that looks unchanged in both may come from the picture cache.
void tst_SceneDocument::replacedPictureShown()
{
    QFETCH(int, side);
    QFETCH(int, secondsLater);
    QFETCH(QColor, shown);

    // BMP: its size depends on the picture's dimensions alone, not on its colours.
    const QString path = m_base + QStringLiteral("replaced.png");
    const auto save = [&path](int pixels, const QColor &color) {
        QImage image(pixels, pixels, QImage::Format_RGB32);
        image.fill(color);
        return image.save(path, "BMP");
    };
    QVERIFY(save(4, Qt::red));
    const QDateTime time = QFileInfo(path).lastModified();
    const QStringList entity = attrs("Name=Pic X=0 Y=0 Width=1600 Height=900 Filename=replaced.png");

    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ entity });
    QCOMPARE(scene.grab().pixelColor(800, 450).rgb(), QColor(Qt::red).rgb());
    scene.view->subprojectReset();

    QVERIFY(save(side, Qt::blue));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(time.addSecs(secondsLater), QFileDevice::FileModificationTime));
    file.close();
    scene.addEntities({ entity });
    QCOMPARE(scene.grab().pixelColor(800, 450).rgb(), shown.rgb());
}

void tst_SceneDocument::courseValuesStayInsideStrings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("quotes") << QStringLiteral("A\"B") << QStringLiteral("say \"hi\"");
    QTest::newRow("breaking out of the object")
        << QStringLiteral("X\"\n}\nRectangle { objectName: \"Injected")
        << QStringLiteral("\"; Component.onCompleted: mycanvas.canGoOn = false; //");
    QTest::newRow("backslashes and line separators")
        << QStringLiteral("C:\\dir\\") << QStringLiteral("one\u2028two\\\"");
}

void tst_SceneDocument::courseValuesStayInsideStrings()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ { QStringLiteral("Name=") + name, QStringLiteral("Text=") + text, QStringLiteral("Width=100"),
        QStringLiteral("Height=100"), QStringLiteral("Filename=pic\".png") } });
    scene.view->addEntity(
        entityElement({ QStringLiteral("Name=") + name, QStringLiteral("Text=") + text }), true, QString());
    scene.view->pngAnimate(name + QStringLiteral(";_;") + name + QStringLiteral(";_;none.txt;_;1"));
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children.length")).toInt(), 1);
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children.length")).toInt(), 1);
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children[0].objectName")).toString(), name);
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children[0].children[1].text")).toString(), text);
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children[0].objectName")).toString(), name);
    QCOMPARE(scene.eval(QStringLiteral("dynamicPNGAnimationLayer.children[0].objectName")).toString(), name);
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.canGoOn")).toBool(), true);
    // Quotes in a file name stay part of the file name.
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children[0].children[0].source")).toUrl().toLocalFile(),
        m_base + QStringLiteral("pic\".png"));
}

void tst_SceneDocument::frameAnimator_data()
{
    QTest::addColumn<int>("repeat");
    QTest::addColumn<bool>("target");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<bool>("stopsAlone");

    QTest::newRow("repeat 1 stops at the first wrap")
        << 1 << true << QStringList { QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a") } << true;
    QTest::newRow("repeat 2 runs twice") << 2 << true
                                         << QStringList { QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a"),
                                                QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a") }
                                         << true;
    QTest::newRow("repeat -1 cycles until stopped") << -1 << true << QStringList {} << false;
    QTest::newRow("no target stops at once") << 1 << false << QStringList {} << true;
}

void tst_SceneDocument::frameAnimator()
{
    QFETCH(int, repeat);
    QFETCH(bool, target);
    QFETCH(QStringList, shown);
    QFETCH(bool, stopsAlone);

    QStringList frames;
    for (const QString &name : { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") }) {
        frames << makePicture(m_dir.path(), name + QStringLiteral(".png"), Qt::white);
        QVERIFY(!frames.last().isEmpty());
    }
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=Walker Width=100 Height=100") });
    QObject *image = nullptr;
    for (QObject *child : scene.object(QStringLiteral("Walker"))->children()) {
        if (!image && child->inherits("QQuickImage"))
            image = child;
    }
    QVERIFY(image);
    QSignalSpy changes(image, SIGNAL(sourceChanged(QUrl)));

    const QString targetName = target ? QStringLiteral("Walker") : QStringLiteral("Nobody");
    scene.call("pngAnimate",
        QStringList { targetName, QStringLiteral("walk"), frames.join(QLatin1Char(',')), QString::number(repeat) }.join(
            QStringLiteral(";_;")));
    QObject *animator = scene.object(QStringLiteral("walk"));
    QVERIFY(animator);
    if (stopsAlone) {
        QTRY_VERIFY_WITH_TIMEOUT(!animator->property("running").toBool(), 3000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(changes.size() > 8, 3000);
        QVERIFY(animator->property("running").toBool());
        scene.view->stopPngAnimation(QStringLiteral("walk"));
        QVERIFY(!animator->property("running").toBool());
        return;
    }
    QStringList seen;
    for (const QList<QVariant> &change : qAsConst(changes))
        seen << QFileInfo(change.first().toUrl().toLocalFile()).completeBaseName();
    QCOMPARE(seen, shown);
}

void tst_SceneDocument::shufflePosition()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    QList<QStringList> entities;
    for (const auto &entity : { qMakePair(QStringLiteral("A"), 100), qMakePair(QStringLiteral("B"), 300),
             qMakePair(QStringLiteral("C"), 500) })
        entities << QStringList { QStringLiteral("Name=") + entity.first, QStringLiteral("X=%1").arg(entity.second),
            QStringLiteral("Y=%1").arg(entity.second + 1), QStringLiteral("Width=10"), QStringLiteral("Height=10") };
    scene.addEntities(entities);
    scene.view->shufflePosition(QStringLiteral("A;B;_;B;C;_;C;A;_;A;Nobody;_;C"));
    auto position = [&](const QString &name) {
        QObject *entity = scene.object(name);
        return QPointF(entity->property("lastSetX").toDouble(), entity->property("lastSetY").toDouble());
    };
    QCOMPARE(position(QStringLiteral("A")), QPointF(100, 101));
    QCOMPARE(position(QStringLiteral("B")), QPointF(500, 501));
    QCOMPARE(position(QStringLiteral("C")), QPointF(300, 301));
    // The exchange also moves the restore position.
    QCOMPARE(scene.object(QStringLiteral("B"))->property("realX").toDouble(), 500.0);
}

void tst_SceneDocument::resets()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.view->addEntity(entityElement(attrs("Name=Menu Width=100 Height=100")), true, QString());
    scene.addEntities({ attrs("Name=E X=500 Width=100 Height=100") });
    scene.call("pngAnimate", QStringLiteral("E;_;anim;_;x.png;_;-1"));
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);

    scene.view->subprojectReset();
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children.length")).toInt(), 0);
    QCOMPARE(scene.eval(QStringLiteral("dynamicPNGAnimationLayer.children.length")).toInt(), 0);
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children.length")).toInt(), 1);
    scene.touch(50, 50);
    QCOMPARE(clicked.size(), 0);
    scene.view->resetWorkDone();
    scene.touch(50, 50);
    scene.touch(550, 50);
    QCOMPARE(clicked.size(), 2);
    QCOMPARE(clicked.at(0).first().toString(), QStringLiteral("Menu"));
    QCOMPARE(clicked.at(1).first().toString(), QString());

    scene.view->ignoreUserinput(QStringLiteral("true"));
    scene.touch(50, 50);
    QCOMPARE(clicked.size(), 2);
    scene.view->ignoreUserinput(QStringLiteral("false"));

    scene.view->projectReset();
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children.length")).toInt(), 0);
    scene.view->resetWorkDone();
    scene.touch(50, 50);
    QCOMPARE(clicked.last().first().toString(), QString());
}

void tst_SceneDocument::shortPayloads_data()
{
    // "bridge": the command through WebView; "scene": the call straight to the document.
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("function");
    QTest::addColumn<QVariant>("argument");
    QTest::addColumn<bool>("videoEnds"); // a video without a file ends at once

    const auto bridge = [](const char *function, const QString &payload) {
        QTest::addRow("bridge %s(%s)", function, qPrintable(payload))
            << QStringLiteral("bridge") << QString::fromLatin1(function) << QVariant(payload) << false;
    };
    bridge("changeEntity", QStringLiteral("A;_;X"));
    bridge("changeEntity", QString());
    bridge("pngAnimate", QStringLiteral("A;_;anim;_;frames.txt"));
    bridge("videoPlayerAction", QStringLiteral("play"));
    bridge("playVideo", QString());
    bridge("showTextfile", QString());

    const auto scene = [](const char *function, const QVariant &argument, bool videoEnds = false) {
        QTest::addRow("scene %s(%s)", function, qPrintable(argument.toString()))
            << QStringLiteral("scene") << QString::fromLatin1(function) << argument << videoEnds;
    };
    scene("changeEntity", QStringLiteral("A"));
    scene("changeEntity", QStringLiteral("A;_;X"));
    scene("changeEntity", QStringLiteral("Nobody;_;X;_;9"));
    scene("changeMenuEntity", QStringLiteral("A;_;X;_;9"));
    scene("changeEntity", QStringLiteral("A;_;X;_;abc"));
    scene("changeEntity", QStringLiteral("A;_;Unknown;_;9"));
    scene("shufflePosition", QStringLiteral("A"));
    scene("shufflePosition", QString());
    scene("actionVideoPlayer", QStringLiteral("play"));
    scene("actionVideoPlayer", QStringLiteral("play;_;Nobody"));
    scene("actionVideoPlayer", QStringLiteral("setsource;_;A;_;v.ogv"));
    scene("pngAnimate", QStringLiteral("A;_;x"));
    scene("restoreEntityPos", QStringLiteral("Nobody"));
    scene("stopPNGAnimation", QStringLiteral("Nobody"));
    scene("stopSpecificMedia", QStringLiteral("1"));
    scene("batchEntityInit", QVariantList { QVariantList { QStringLiteral("short") } });
    scene("createMenuEntity", QVariantList {});
    scene("receivedTouchEvent", QVariantList { 1 });
    scene("receivedTouchEventUp", QVariant());
    scene("receivedTouchMoveEvent", QVariantList {});
    scene("move3DEntity", QString());
    scene("animate", QString());
    scene("createVideoPlayer", QString());
    scene("createBubble", QString());
    scene("activateSceneBorder", QString());
    scene("paused", false);
    scene("beginVideo", QStringLiteral(";_;"), true);
}

// Payloads too short or naming nothing change nothing, whether they come through the bridge or
// straight to the document.
void tst_SceneDocument::shortPayloads()
{
    QFETCH(QString, target);
    QFETCH(QString, function);
    QFETCH(QVariant, argument);
    QFETCH(bool, videoEnds);

    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=A X=5 Width=10 Height=10") });
    writeFile(m_base + QStringLiteral("frames.txt"), "a.png\n");
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    QSignalSpy video(scene.view.get(), &WebView::finishedVideoSignal);
    if (target == QLatin1String("scene")) {
        scene.call(function.toLatin1().constData(), argument);
    } else {
        const QMap<QString, void (WebView::*)(const QString &)> commands {
            { QStringLiteral("changeEntity"), &WebView::changeEntity },
            { QStringLiteral("pngAnimate"), &WebView::pngAnimate },
            { QStringLiteral("videoPlayerAction"), &WebView::videoPlayerAction },
            { QStringLiteral("playVideo"), &WebView::playVideo },
            { QStringLiteral("showTextfile"), &WebView::showTextfile },
        };
        QVERIFY(commands.contains(function));
        (scene.view.get()->*commands.value(function))(argument.toString());
    }
    QCOMPARE(scene.object(QStringLiteral("A"))->property("lastSetX").toDouble(), 5.0);
    QCOMPARE(scene.eval(QStringLiteral("dynamicEntityLayer.children.length")).toInt(), 1);
    QCOMPARE(scene.eval(QStringLiteral("dynamicMenuLayer.children.length")).toInt(), 0);
    QCOMPARE(scene.eval(QStringLiteral("dynamicPNGAnimationLayer.children.length")).toInt(), 0);
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.ignoreUInput")).toBool(), false);
    QVERIFY(!scene.object(QStringLiteral("helpSite"))->property("visible").toBool());
    QCOMPARE(clicked.size(), 0);
    if (videoEnds)
        QCOMPARE(video.size(), 1);
}

void tst_SceneDocument::soundPlaysToTheEnd()
{
    KEST_REQUIRE_SOUND_SERVER();
    const QString wav = makeSound(m_dir.path(), QStringLiteral("short.wav"), 0.3);
    QVERIFY2(!wav.isEmpty(), "sox could not make a WAV file");
    Scene scene;
    QVERIFY(scene.start(m_base));
    QSignalSpy finished(scene.view.get(), &WebView::finishedAudioSignal);
    const QString id = QUrl::fromLocalFile(wav).toString() + QStringLiteral(";_;1700000000000");
    QElapsedTimer clock;
    clock.start();
    scene.view->playAudio(id);
    QPointer<QObject> player = scene.object(QStringLiteral("qmlaudioplayer-audioplayer_0"));
    QVERIFY(player);
    // Read as the end is reported: the player is given back right after.
    int endStatus = -1;
    connect(scene.view.get(), &WebView::finishedAudioSignal, player.data(),
        [&endStatus, &player] { endStatus = player->property("status").toInt(); });
    QVERIFY(finished.wait(10000));
    QVERIFY2(clock.elapsed() >= 250, "finished before the sound could have played");
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toString(), id);
    // It ended at the end of the media, not by an error, and its player with its decoder is gone.
    QCOMPARE(endStatus, 7);
    QTRY_VERIFY(player.isNull());
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 0);
    QCOMPARE(scene.eval(QStringLiteral("dynamicAudioLayer.children.length")).toInt(), 0);
    // A stop afterwards finds nothing to report.
    scene.view->stopMedia();
    QCOMPARE(finished.size(), 1);
}

void tst_SceneDocument::stopMediaEndsEverySound()
{
    KEST_REQUIRE_SOUND_SERVER();
    const QString wav = makeSound(m_dir.path(), QStringLiteral("long.wav"), 20);
    QVERIFY2(!wav.isEmpty(), "sox could not make a WAV file");
    Scene scene;
    QVERIFY(scene.start(m_base));
    QSignalSpy finished(scene.view.get(), &WebView::finishedAudioSignal);
    const QStringList ids { QUrl::fromLocalFile(wav).toString() + QStringLiteral(";_;1"),
        QUrl::fromLocalFile(wav).toString() + QStringLiteral(";_;2") };
    for (const QString &id : ids)
        scene.view->playAudio(id);
    QTRY_COMPARE_WITH_TIMEOUT(
        scene
            .eval(QStringLiteral(
                "mainview.audioplayers.filter(function(p) { return p.playbackState === Audio.PlayingState; }).length"))
            .toInt(),
        2, 10000);
    QCOMPARE(finished.size(), 0);

    scene.view->stopMedia();
    QCOMPARE(finished.size(), 2);
    QCOMPARE(QStringList({ finished.at(0).first().toString(), finished.at(1).first().toString() }), ids);
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 0);
    // Once the players are gone, nothing is left that could report a second time.
    QTRY_COMPARE(scene.eval(QStringLiteral("dynamicAudioLayer.children.length")).toInt(), 0);
    QCOMPARE(finished.size(), 2);
}

void tst_SceneDocument::unplayableSoundReportsFinished()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    writeFile(
        m_base + QStringLiteral("notasound.wav"), "<!DOCTYPE HTML PUBLIC>\n<html>\n<title>404 Not Found</title>\n");
    QSignalSpy finished(scene.view.get(), &WebView::finishedAudioSignal);
    const QStringList ids { QUrl::fromLocalFile(m_base + QStringLiteral("missing.wav")).toString()
            + QStringLiteral(";_;1"),
        QUrl::fromLocalFile(m_base + QStringLiteral("notasound.wav")).toString() + QStringLiteral(";_;2"),
        QStringLiteral(";_;3") };
    for (const QString &id : ids)
        scene.view->playAudio(id);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 10000);
    QStringList reported;
    for (const auto &signal : qAsConst(finished))
        reported << signal.first().toString();
    reported.sort();
    QStringList expected = ids;
    expected.sort();
    QCOMPARE(reported, expected);
    // Their players are given back without waiting for a stop, which then reports nothing.
    QTRY_COMPARE(scene.eval(QStringLiteral("dynamicAudioLayer.children.length")).toInt(), 0);
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 0);
    scene.view->stopMedia();
    QCOMPARE(finished.size(), 3);
}

void tst_SceneDocument::muteReachesEveryPlayer()
{
    const QString wav = makeSound(m_dir.path(), QStringLiteral("long.wav"), 20);
    QVERIFY2(!wav.isEmpty(), "sox could not make a WAV file");
    Scene scene;
    QVERIFY(scene.start(m_base));
    const QString url = QUrl::fromLocalFile(wav).toString();
    scene.view->playAudio(url + QStringLiteral(";_;1"));
    scene.view->toggleMute();
    QVERIFY(scene.view->isMuted());
    scene.view->playAudio(url + QStringLiteral(";_;2"));
    const QString allMuted = QStringLiteral("mainview.audioplayers.every(function(p) { return p.muted; })");
    const QString noneMuted = QStringLiteral("mainview.audioplayers.every(function(p) { return !p.muted; })");
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 2);
    QVERIFY(scene.eval(allMuted).toBool());
    scene.view->toggleMute();
    QVERIFY(!scene.view->isMuted());
    QVERIFY(scene.eval(noneMuted).toBool());
    scene.view->stopMedia();
}

void tst_SceneDocument::videoEndsWithFinishedVideo()
{
    const QString video = makeVideo(m_dir.path(), QStringLiteral("clip.ogv"), 15);
    if (video.isEmpty())
        QSKIP("gst-launch-1.0 with theoraenc and oggmux is needed to make a test video");
    Scene scene;
    QVERIFY(scene.start(m_base));
    QSignalSpy finished(scene.view.get(), &WebView::finishedVideoSignal);
    scene.view->playVideo(QStringLiteral("clip.ogv;_;x"));
    QCOMPARE(scene.eval(QStringLiteral("dynamicVideoLayer.children.length")).toInt(), 1);
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.videoIsPlaying")).toBool(), true);
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(scene.eval(QStringLiteral("dynamicVideoLayer.children.length")).toInt(), 0);
    QCOMPARE(scene.eval(QStringLiteral("mycanvas.videoIsPlaying")).toBool(), false);

    // A file that cannot be played ends the same way.
    scene.view->playVideo(QStringLiteral("missing.ogv;_;x"));
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.size(), 2);
}

void tst_SceneDocument::stopMediaEndsVideo()
{
    const QString video = makeVideo(m_dir.path(), QStringLiteral("long.ogv"), 600);
    if (video.isEmpty())
        QSKIP("gst-launch-1.0 with theoraenc and oggmux is needed to make a test video");
    Scene scene;
    QVERIFY(scene.start(m_base));
    QSignalSpy finished(scene.view.get(), &WebView::finishedVideoSignal);
    scene.view->playVideo(QStringLiteral("long.ogv;_;x"));
    QTRY_COMPARE_WITH_TIMEOUT(
        scene.eval(QStringLiteral("dynamicVideoLayer.children[0].playbackState")).toInt(), 1, 10000);
    QCOMPARE(finished.size(), 0);
    QPointer<QObject> player = scene.eval(QStringLiteral("dynamicVideoLayer.children[0]")).value<QObject *>();
    QVERIFY(player);
    scene.view->stopMedia();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(scene.eval(QStringLiteral("dynamicVideoLayer.children.length")).toInt(), 0);
    // Once the player is gone, nothing is left that could report a second time.
    QTRY_VERIFY(player.isNull());
    QCOMPARE(finished.size(), 1);
}

QTEST_MAIN(tst_SceneDocument)
#include "tst_scenedocument.moc"

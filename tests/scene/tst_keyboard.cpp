// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard through the real scene document: the focus ring, Enter as a press, dropping a
// picked-up entity, Escape.
#include "scenefixture.h"

#include <QTemporaryDir>
#include <QTest>

using namespace sceneTest;

class tst_Keyboard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void focusRing_data();
    void focusRing();
    void enterPresses_data();
    void enterPresses();
    void helpPage();
    void dropLikeThePointer_data();
    void dropLikeThePointer();
    void escape();
    void resetKeepsTheKeys();
    void accessibleName_data();
    void accessibleName();
    void repeatedNamesKeepTheirOwnDetails();

private:
    // A scene with the keyboard focus, its menu buttons and its entities.
    bool start(Scene &scene, const QList<QStringList> &menu, const QList<QStringList> &entities);
    static void key(Scene &scene, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(scene.view->quickView(), key, modifiers);
    }
    static QString focused(Scene &scene)
    {
        return scene
            .eval(QStringLiteral("mycanvas.keyFocus && mycanvas.keyFocus.activeFocus"
                                 " ? mycanvas.keyFocus.objectName : ''"))
            .toString();
    }

    QTemporaryDir m_dir;
    QString m_base;
};

void tst_Keyboard::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_base = m_dir.path() + QLatin1Char('/');
}

void tst_Keyboard::init()
{
    watchScriptErrors();
}

void tst_Keyboard::cleanup()
{
    QVERIFY2(scriptErrors().isEmpty(), qPrintable(scriptErrors().join(QLatin1Char('\n'))));
}

bool tst_Keyboard::start(Scene &scene, const QList<QStringList> &menu, const QList<QStringList> &entities)
{
    if (!scene.start(m_base))
        return false;
    for (const QStringList &attributes : menu)
        scene.view->addEntity(entityElement(attributes), true, QStringLiteral("top:800"));
    scene.addEntities(entities);
    QQuickView *quick = scene.view->quickView();
    quick->requestActivate();
    return QTest::qWaitForWindowActive(quick);
}

void tst_Keyboard::focusRing_data()
{
    QTest::addColumn<QList<QStringList>>("menu");
    QTest::addColumn<QList<QStringList>>("entities");
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QStringList>("tabs");
    QTest::addColumn<int>("hovers");
    QTest::addColumn<QString>("back");

    const QStringList none;
    // Top to bottom, then left to right, the menu bar first; the last Tab wraps around.
    QTest::newRow("reading order") << QList<QStringList> { attrs("Name=M X=500 Y=10 Width=50 Height=50 Text=Menu") }
                                   << QList<QStringList> { attrs("Name=B X=100 Y=500 Width=50 Height=50 Text=b"),
                                          attrs("Name=A X=900 Y=100 Width=50 Height=50 Text=a"),
                                          attrs("Name=C X=200 Y=100 Width=50 Height=50 Text=c") }
                                   << none << attrs("M C A B M") << 5 << QStringLiteral("B");
    QTest::newRow("inactive, see-through and bare boxes are skipped")
        << QList<QStringList> {}
        << QList<QStringList> { attrs("Name=Off X=0 Y=0 Width=50 Height=50 Text=off StateActive=False"),
               attrs("Name=Band X=0 Y=100 Width=50 Height=50"),
               attrs("Name=Gone X=0 Y=200 Width=50 Height=50 Text=gone"),
               attrs("Name=Later X=0 Y=300 Width=50 Height=50 Text=later"),
               attrs("Name=On X=0 Y=400 Width=50 Height=50 Text=on") }
        << attrs("Gone;_;Opacity;_;0 Later;_;StateActive;_;false") << attrs("On On") << 1 << QStringLiteral("On");
    QTest::newRow("turned active by a script")
        << QList<QStringList> {}
        << QList<QStringList> { attrs("Name=Off X=0 Y=0 Width=50 Height=50 "
                                      "Text=off StateActive=False"),
               attrs("Name=On X=0 Y=400 Width=50 Height=50 Text=on") }
        << attrs("Off;_;StateActive;_;true") << attrs("Off On Off") << 3 << QStringLiteral("On");
}

void tst_Keyboard::focusRing()
{
    QFETCH(QList<QStringList>, menu);
    QFETCH(QList<QStringList>, entities);
    QFETCH(QStringList, changes);
    QFETCH(QStringList, tabs);
    QFETCH(int, hovers);
    QFETCH(QString, back);

    Scene scene;
    QVERIFY(start(scene, menu, entities));
    for (const QString &change : changes)
        scene.view->changeEntity(change);
    QSignalSpy hovered(scene.view.get(), &WebView::hoverEntity);

    QStringList seen;
    for (int i = 0; i < tabs.size(); ++i) {
        key(scene, Qt::Key_Tab);
        seen << focused(scene);
    }
    QCOMPARE(seen, tabs);
    // Each focus is the pointer entering: one hover report per entry.
    QCOMPARE(hovered.size(), hovers);
    QCOMPARE(hovered.first().first().toString(), tabs.first());

    key(scene, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(focused(scene), back);
}

void tst_Keyboard::enterPresses_data()
{
    QTest::addColumn<QStringList>("entity");
    QTest::addColumn<Qt::Key>("pressed");
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("clicked");

    const QStringList button = attrs("Name=Go X=0 Y=0 Width=50 Height=50 Text=go");
    QTest::newRow("Enter") << button << Qt::Key_Return << QString() << QStringLiteral("Go");
    QTest::newRow("Space") << button << Qt::Key_Space << QString() << QStringLiteral("Go");
    QTest::newRow("input ignored") << button << Qt::Key_Return << QStringLiteral("mycanvas.ignoreUserinput('true')")
                                   << QString();
    QTest::newRow("scene being changed") << button << Qt::Key_Return << QStringLiteral("mycanvas.canGoOn = false")
                                         << QString();
    QTest::newRow("skip-audio entity") << attrs("Name=ENTITY_SkipAudio Width=50 Height=50 Text=skip") << Qt::Key_Return
                                       << QString() << QString();
}

void tst_Keyboard::enterPresses()
{
    QFETCH(QStringList, entity);
    QFETCH(Qt::Key, pressed);
    QFETCH(QString, setUp);
    QFETCH(QString, clicked);

    Scene scene;
    QVERIFY(start(scene, {}, { entity }));
    key(scene, Qt::Key_Tab);
    if (!setUp.isEmpty())
        scene.eval(setUp);
    QSignalSpy clicks(scene.view.get(), &WebView::clickedEntity);
    key(scene, pressed);
    QCOMPARE(clicks.size(), clicked.isEmpty() ? 0 : 1);
    if (!clicked.isEmpty())
        QCOMPARE(clicks.first(), QVariantList({ clicked, true }));
}

void tst_Keyboard::helpPage()
{
    Scene scene;
    QVERIFY(start(scene, {}, { attrs("Name=Under X=0 Y=0 Width=1600 Height=900 Text=under") }));
    key(scene, Qt::Key_Tab);
    QCOMPARE(focused(scene), QStringLiteral("Under"));
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    QSignalSpy spoken(scene.view.get(), &WebView::announce);
    scene.call("showHelpSite", QStringLiteral("Head;_;Body"));
    QObject *help = scene.object(QStringLiteral("helpSite"));

    // The focus is taken to the page: headline, text, close icon; nothing below is reached.
    QCOMPARE(spoken.last().first().toString(), QStringLiteral("Head"));
    key(scene, Qt::Key_Tab);
    key(scene, Qt::Key_Return); // on the text: nothing
    QVERIFY(help->property("visible").toBool());
    key(scene, Qt::Key_Tab);
    QCOMPARE(spoken.last().first().toString(), QStringLiteral("Close"));
    key(scene, Qt::Key_Return);
    QTRY_VERIFY(!help->property("visible").toBool());
    QCOMPARE(clicked.size(), 0);

    // The keys are back in the scene.
    key(scene, Qt::Key_Tab);
    key(scene, Qt::Key_Return);
    QCOMPARE(clicked.size(), 1);
}

void tst_Keyboard::dropLikeThePointer_data()
{
    QTest::addColumn<int>("tabs");
    QTest::addColumn<Qt::Key>("finish");
    QTest::addColumn<QString>("target");

    // Ring: Piece, Target, HighTarget. From the picked-up Piece, Tab moves among the targets.
    QTest::newRow("onto the target") << 1 << Qt::Key_Return << QStringLiteral("Target");
    QTest::newRow("onto a target above it") << 2 << Qt::Key_Return << QStringLiteral("HighTarget");
    QTest::newRow("back where it was") << 3 << Qt::Key_Return << QString();
    QTest::newRow("Escape puts it back") << 1 << Qt::Key_Escape << QString();
}

void tst_Keyboard::dropLikeThePointer()
{
    QFETCH(int, tabs);
    QFETCH(Qt::Key, finish);
    QFETCH(QString, target);

    Scene scene;
    QVERIFY(start(scene, {},
        { attrs("Name=Piece X=100 Y=100 Z=2 Width=100 Height=100 DragDrop=True Filename=p.png"),
            attrs("Name=Target X=500 Y=100 Z=1 Width=100 Height=100 Text=t"),
            attrs("Name=HighTarget X=900 Y=100 Z=5 Width=100 Height=100 Text=h") }));
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);
    QSignalSpy dropped(scene.view.get(), &WebView::dropEntity);
    QSignalSpy reading(scene.view.get(), &WebView::stopReadingRequested);
    QObject *piece = scene.object(QStringLiteral("Piece"));

    // What the pointer reports for a drag onto the target, as the measure.
    QList<QVariantList> pointerDrop;
    if (!target.isEmpty()) {
        QObject *onto = scene.object(target);
        const QPoint centre(int(onto->property("lastSetX").toDouble()) + 50, 150);
        scene.view->sendTouch(QPoint(150, 150), true);
        scene.view->sendTouchMove(centre);
        scene.view->sendTouchMove(centre);
        scene.view->sendTouch(centre, false);
        for (const QVariantList &signal : dropped)
            pointerDrop << signal;
        QCOMPARE(pointerDrop.size(), 1);
        scene.view->restoreEntityPos(QStringLiteral("Piece"));
        clicked.clear();
        dropped.clear();
    }

    key(scene, Qt::Key_Tab);
    key(scene, Qt::Key_Space);
    // Picking up is the press: reported as a click, and marked as selected.
    QCOMPARE(clicked.size(), 1);
    QVERIFY(piece->property("pickedUp").toBool());
    for (int i = 0; i < tabs; ++i)
        key(scene, Qt::Key_Tab);
    key(scene, finish);

    QVERIFY(!piece->property("pickedUp").toBool());
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(reading.size(), 0);
    if (target.isEmpty()) {
        QCOMPARE(dropped.size(), 0);
        QCOMPARE(piece->property("lastSetX").toDouble(), 100.0);
        QCOMPARE(focused(scene), QStringLiteral("Piece"));
    } else {
        QCOMPARE(QList<QVariantList>(dropped), pointerDrop);
        // The picture lies on the target, centred; its restore position stays.
        QCOMPARE(piece->property("lastSetX").toDouble(), scene.object(target)->property("lastSetX").toDouble());
        QCOMPARE(piece->property("realX").toDouble(), 100.0);
    }
}

void tst_Keyboard::escape()
{
    Scene scene;
    QVERIFY(start(scene, {}, { attrs("Name=Go X=0 Y=0 Width=50 Height=50 Text=go") }));
    scene.view->playAudio(QStringLiteral("file:") + m_base + QStringLiteral("never.wav;_;1"));
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 1);
    QSignalSpy reading(scene.view.get(), &WebView::stopReadingRequested);
    QSignalSpy clicked(scene.view.get(), &WebView::clickedEntity);

    // Silences sounds and reading even while the input is ignored, as the skip-audio entity does.
    scene.view->ignoreUserinput(QStringLiteral("true"));
    key(scene, Qt::Key_Escape);
    QCOMPARE(scene.eval(QStringLiteral("mainview.audioplayers.length")).toInt(), 0);
    QCOMPARE(reading.size(), 1);
    QCOMPARE(clicked.size(), 0);
}

// The entity with the focus leaves with its scene: the keys go back to the scene's input.
void tst_Keyboard::resetKeepsTheKeys()
{
    Scene scene;
    QVERIFY(start(scene, {}, { attrs("Name=Go X=0 Y=0 Width=50 Height=50 Text=go") }));
    key(scene, Qt::Key_Tab);
    QCOMPARE(focused(scene), QStringLiteral("Go"));
    scene.view->subprojectReset();
    QVERIFY(scene.eval(QStringLiteral("ctrlEventSource.activeFocus")).toBool());
}

void tst_Keyboard::accessibleName_data()
{
    QTest::addColumn<QStringList>("entity");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("button");

    QTest::newRow("text") << attrs("Name=E Text=Start Filename=pics/x.png Function=3") << QStringLiteral("Start")
                          << true;
    QTest::newRow("picture") << attrs("Name=E Filename=pics\\red_apple-2.png") << QStringLiteral("red apple 2")
                             << false;
    QTest::newRow("alt first") << attrs("Name=E Text=Go Alt=Next_page DragDrop=True") << QStringLiteral("Next_page")
                               << true;
    QTest::newRow("nothing") << attrs("Name=E") << QString() << false;
}

void tst_Keyboard::accessibleName()
{
    QFETCH(QStringList, entity);
    QFETCH(QString, name);
    QFETCH(bool, button);

    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ entity << QStringLiteral("Width=50") << QStringLiteral("Height=50") });
    QObject *box = scene.object(QStringLiteral("E"));
    QCOMPARE(box->property("accessibleName").toString(), name);
    QCOMPARE(box->property("clickable").toBool(), button);
}

// Two entities of one name are told apart by their own Alt text and scripts, not the last one's.
void tst_Keyboard::repeatedNamesKeepTheirOwnDetails()
{
    Scene scene;
    QVERIFY(scene.start(m_base));
    scene.addEntities({ attrs("Name=E X=0 Width=50 Height=50 Alt=First Function=3"),
        attrs("Name=E X=100 Width=50 Height=50 Alt=Second") });
    const QList<QQuickItem *> boxes = scene.root()->findChildren<QQuickItem *>(QStringLiteral("E"));
    QCOMPARE(boxes.size(), 2);
    for (QQuickItem *box : boxes) {
        const bool first = box->property("lastSetX").toDouble() == 0;
        QCOMPARE(
            box->property("accessibleName").toString(), first ? QStringLiteral("First") : QStringLiteral("Second"));
        QCOMPARE(box->property("clickable").toBool(), first);
    }
}

QTEST_MAIN(tst_Keyboard)
#include "tst_keyboard.moc"

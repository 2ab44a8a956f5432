// SPDX-License-Identifier: GPL-3.0-or-later
// The player's start-up in this process, with a temporary documents folder for every case.
#include "deployment.h"
#include "kestapplication.h"
#include "kestora.h"
#include "kestproject.h"
#include "kestselect.h"
#include "kestsubproject.h"
#include "kestthread.h"
#include "testactions.h"
#include "testclock.h"
#include "testfiles.h"
#include "variablestore.h"
#include "webview.h"

#include <QApplication>
#include <QLabel>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <QTouchDevice>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QString data(const char *name)
{
    return QStringLiteral(KEST_TEST_DATA_DIR "/startup/") + QLatin1String(name);
}

// Runs the application's event loop for at most msecs: 0 when something told the application
// to quit meanwhile, 42 when the time ran out.
int runApplication(int msecs, const std::function<void()> &first = {})
{
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, qApp, [] { QCoreApplication::exit(42); });
    timeout.start(msecs);
    if (first)
        QTimer::singleShot(0, qApp, first);
    return QCoreApplication::exec();
}

// Delivers a key press inside the application's event loop, where a quit takes effect, and
// tells whether it asked the application to quit: decided when the press returns, not by
// waiting for a quit that might still come.
bool pressQuits(const std::function<void()> &press)
{
    bool quit = false;
    QTimer::singleShot(0, qApp, [&quit, &press] {
        QEventLoop loop; // a quit ends every running loop, this one too
        QTimer::singleShot(0, &loop, [&] {
            press();
            quit = !loop.isRunning();
            loop.exit();
        });
        loop.exec();
        if (!quit)
            QCoreApplication::exit(42);
    });
    QCoreApplication::exec();
    return quit;
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void defaultSettingsFile();
    void firstStartOffline();
    void offlineCourseInUserFolder();
    void rememberedCourse();
    void debugMarkerAsksEveryTime();
    void quitInCourseDialog();
    void brokenInputs_data();
    void brokenInputs();
    void settingsAsTyped_data();
    void settingsAsTyped();
    void backKey();
    void touchToScene_data();
    void touchToScene();
    void touchReachesEntity();
    void mouseClickAndDrag_data();
    void mouseClickAndDrag();
    void scriptsDriveThePlayer();

private:
    TestClock m_clock; // the switch guard and the Back key see only the time stepped here
    QString userFolder() const { return m_home->path() + QStringLiteral("/Documents/Tavelo/"); }
    // Constructs the window; the course dialog, when it comes, picks what chooseLanguage says.
    void start();
    bool settle();
    QPoint scenePixel(int frameX, int frameY) const;

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<Kestora> m_window;
    QTimer m_dialogWatch;
    int m_dialogsSeen = 0;
    std::function<void(KestSelect *)> m_chooseLanguage;
};

void tst_Startup::initTestCase()
{
    registerTestActions();
    // Offline for certain: nothing listens on port 1 of the loopback address.
    kestDeployment deployment = kestDeployment::defaults();
    deployment.probeUrl = QStringLiteral("http://127.0.0.1:1/");
    kestDeployment::setCurrent(deployment);
    connect(&m_dialogWatch, &QTimer::timeout, this, [this] {
        // Shown before exec(), the dialog need not register as the active modal widget.
        KestSelect *dialog = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *candidate = qobject_cast<KestSelect *>(widget); candidate && candidate->isVisible())
                dialog = candidate;
        }
        if (!dialog)
            return;
        ++m_dialogsSeen;
        if (m_chooseLanguage)
            m_chooseLanguage(dialog);
        dialog->acceptClicked();
    });
    m_dialogWatch.start(50);
}

void tst_Startup::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    kestVariables::clear();
    TestRecord::clearJournal();
    m_dialogsSeen = 0;
    m_chooseLanguage = nullptr;
}

void tst_Startup::cleanup()
{
    m_clock.thaw();
    m_window.reset();
    QCOMPARE(kestThread::liveCount(), 0);
}

void tst_Startup::start()
{
    m_window = std::make_unique<Kestora>(qApp);
    m_window->resize(1600, 900);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

bool tst_Startup::settle()
{
    return QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000);
}

QPoint tst_Startup::scenePixel(int frameX, int frameY) const
{
    const QQuickView *view = m_window->getProject()->webView()->quickView();
    return QPoint(frameX * view->width() / 1600, frameY * view->height() / 900);
}

void tst_Startup::defaultSettingsFile()
{
    const QString target = m_home->path() + QStringLiteral("/Tavelo.ini");
    QVERIFY(Kestora::installDefaultSettings(target));
    QCOMPARE(readFile(target), QByteArray("[User]\nVarTeacherMail=\ndefaultLoadCourse=###start###\n"));

    // An existing file is never touched, even one that lacks every key.
    writeFile(target, "[Color]\r\nBackgroundcolor=#101010\r\n");
    QVERIFY(!Kestora::installDefaultSettings(target));
    QCOMPARE(readFile(target), QByteArray("[Color]\r\nBackgroundcolor=#101010\r\n"));
}

void tst_Startup::firstStartOffline()
{
    // Offline, no catalogue, no default project: the error label, and the player quits by itself
    // after 7.5 s. Measured from before the window exists, a slow machine only makes it longer.
    QElapsedTimer clock;
    clock.start();
    start();
    QVERIFY(QFileInfo(userFolder()).isDir());
    QCOMPARE(m_dialogsSeen, 0);
    QVERIFY(m_window->findChild<QLabel *>(QStringLiteral("label"))->isVisible());
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("A Error Occured"));
    QVERIFY(!m_window->getProject()->webView());

    // The "###start###" marker has the choice remembered: no course, the default project file.
    QSettings settings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("User/defaultLoadCourse")).toString(), QString());
    QCOMPARE(settings.value(QStringLiteral("User/defaultLoadCoursePath")).toString(),
        userFolder() + QStringLiteral("tavelo.avx"));
    QCOMPARE(settings.value(QStringLiteral("User/VarTeacherMail"), QStringLiteral("missing")).toString(), QString());

    QCOMPARE(kestVariables::variableValue(QStringLiteral("USERPATH")), userFolder());
    QCOMPARE(kestVariables::variableValue(QStringLiteral("DEVICE")), QStringLiteral("windows"));
    QCOMPARE(kestVariables::variableValue(QStringLiteral("%JOYSTICK")), QStringLiteral("0"));

    QCOMPARE(runApplication(10000), 0);
    // A coarse timer may fire up to 5% early.
    QVERIFY2(clock.elapsed() >= 7000, "quit well before 7.5 s");
}

void tst_Startup::offlineCourseInUserFolder()
{
    copyFile(data("tavelo.avx"), userFolder() + QStringLiteral("tavelo.avx"));
    start();
    QCOMPARE(m_dialogsSeen, 0);
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Tavelo"));
    QVERIFY(!m_window->findChild<QLabel *>(QStringLiteral("label"))->isVisible());
    QCOMPARE(m_window->getProject()->currentSubProject()->name(), QStringLiteral("First"));
    QCOMPARE(kestApplication::instance()->projectPath(), userFolder());
    QVERIFY(settle());
    QCOMPARE(TestRecord::journal(), lines("main First"));
}

void tst_Startup::rememberedCourse()
{
    const QString course = userFolder() + QStringLiteral("german/");
    copyFile(data("tavelo.avx"), course + QStringLiteral("tavelo.avx"));
    copyFile(data("catalogue.xml"), userFolder() + QStringLiteral("tavelo.xml"));
    const QByteArray settings = "[User]\ndefaultLoadCourse=TAVELO German Version\ndefaultLoadCoursePath="
        + QFile::encodeName(course) + "tavelo.avx\n";
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"), settings);

    start();
    QCOMPARE(m_dialogsSeen, 0);
    QCOMPARE(m_window->courseTitle(), QStringLiteral("TAVELO German Version"));
    QCOMPARE(m_window->languageCode(), QStringLiteral("ger"));
    QCOMPARE(m_window->courseFolder(), course);
    // The part marked "True" is the main document; "true" is not.
    QCOMPARE(m_window->mainProjectFile(), course + QStringLiteral("tavelo.avx"));
    QCOMPARE(kestVariables::variableValue(QStringLiteral("USERPATH")), course);
    QCOMPARE(m_window->getProject()->currentSubProject()->name(), QStringLiteral("First"));
    QCOMPARE(readFile(userFolder() + QStringLiteral("Tavelo.ini")), settings);
}

void tst_Startup::debugMarkerAsksEveryTime()
{
    copyFile(data("catalogue.xml"), userFolder() + QStringLiteral("tavelo.xml"));
    const QString course = userFolder() + QStringLiteral("english/");
    copyFile(data("english/tavelo.avx"), course + QStringLiteral("tavelo.avx"));
    copyFile(data("english/variables_win.txt"), course + QStringLiteral("variables_win.txt"));
    const QByteArray settings = "[User]\ndefaultLoadCourse=###debug###\n";
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"), settings);

    for (int round = 1; round <= 2; ++round) {
        start();
        QCOMPARE(m_dialogsSeen, round);
        QCOMPARE(m_window->languageCode(), QStringLiteral("eng"));
        QCOMPARE(m_window->courseFolder(), course);
        QCOMPARE(m_window->getProject()->currentSubProject()->name(), QStringLiteral("First"));
        QVERIFY(settle());
        QVERIFY(TestRecord::journal().contains(QStringLiteral("main English")));
        // The course's variables file was read into the store.
        QCOMPARE(kestVariables::variableValue(QStringLiteral("Greeting")), QStringLiteral("Hello from the course"));
        m_window.reset();
        QCOMPARE(readFile(userFolder() + QStringLiteral("Tavelo.ini")), settings);
    }

    // A language the catalogue does not offer leaves the default project: here none.
    m_chooseLanguage = [](KestSelect *dialog) { dialog->on_pushButtonLat_clicked(); };
    start();
    QCOMPARE(m_window->languageCode(), QStringLiteral("lat"));
    QVERIFY(!m_window->getProject()->webView());
}

void tst_Startup::quitInCourseDialog()
{
    copyFile(data("catalogue.xml"), userFolder() + QStringLiteral("tavelo.xml"));
    const QByteArray settings = "[User]\ndefaultLoadCourse=###debug###\n";
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"), settings);
    m_chooseLanguage = [](KestSelect *dialog) { dialog->on_pushButtonexit_clicked(); };
    m_window = std::make_unique<Kestora>(qApp);
    QCOMPARE(m_dialogsSeen, 1);
    QVERIFY(m_window->quitsAtOnce());
    QCOMPARE(m_window->exitStatus(), 0);
    QVERIFY(!m_window->getProject()->webView());
    QCOMPARE(readFile(userFolder() + QStringLiteral("Tavelo.ini")), settings);
    // The process carries on to a clean end: a running event loop ends at once with that status.
    QCOMPARE(runApplication(10000), 0);
}

void tst_Startup::brokenInputs_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QByteArray>("project");
    QTest::addColumn<bool>("labelVisible");
    QTest::newRow("notdefined values and missing keys")
        << QByteArray("[Color]\nBackgroundcolor=notdefined\n[User]\ndefaultLoadCoursePath=notdefined\n")
        << readFile(data("tavelo.avx")) << false;
    QTest::newRow("main project file is not XML") << QByteArray("[User]\n") << readFile(data("notxml.avx")) << true;
    QTest::newRow("remembered course path that does not exist")
        << QByteArray("[User]\ndefaultLoadCourse=TAVELO Czech Version\ndefaultLoadCoursePath=/nowhere/at/all.avx\n")
        << readFile(data("tavelo.avx")) << false;
}

void tst_Startup::brokenInputs()
{
    QFETCH(QByteArray, settings);
    QFETCH(QByteArray, project);
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"), settings);
    writeFile(userFolder() + QStringLiteral("tavelo.avx"), project);
    start();
    QTEST(m_window->findChild<QLabel *>(QStringLiteral("label"))->isVisible(), "labelVisible");
    QCOMPARE(kestVariables::variableValue(QStringLiteral("Backgroundcolor")), QString());
    QCOMPARE(readFile(userFolder() + QStringLiteral("Tavelo.ini")), settings);
}

void tst_Startup::settingsAsTyped_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("dialogs");
    QTest::addColumn<QString>("background");
    // A remembered course must name a folder: "/" would become the course folder and USERPATH.
    QTest::newRow("remembered course, empty path")
        << QByteArray("[User]\ndefaultLoadCourse=TAVELO German Version\ndefaultLoadCoursePath=\n") << 1 << QString();
    QTest::newRow("remembered course, path without folder")
        << QByteArray("[User]\ndefaultLoadCourse=TAVELO German Version\ndefaultLoadCoursePath=tavelo.avx\n") << 1
        << QString();
    // Hand-typed commas: the same text that scripts read with GetIniValue.
    QTest::newRow("colour with commas") << QByteArray("[Color]\nBackgroundcolor=rgb(1, 2, 3)\n[User]\n") << 1
                                        << QStringLiteral("rgb(1, 2, 3)");
}

void tst_Startup::settingsAsTyped()
{
    QFETCH(QByteArray, settings);
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"), settings);
    copyFile(data("catalogue.xml"), userFolder() + QStringLiteral("tavelo.xml"));
    start();
    QTEST(m_dialogsSeen, "dialogs");
    QVERIFY(kestVariables::variableValue(QStringLiteral("USERPATH")) != QLatin1String("/"));
    QTEST(kestVariables::variableValue(QStringLiteral("Backgroundcolor")), "background");
}

void tst_Startup::backKey()
{
    copyFile(data("tavelo.avx"), userFolder() + QStringLiteral("tavelo.avx"));
    // The Back key's 2 s see only the steps below (cleanup() thaws the clock).
    m_clock.freeze();
    const auto pressBack = [this] {
        QKeyEvent back(QEvent::KeyPress, Qt::Key_Back, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &back);
    };

    // The first press is measured against the window's construction.
    start();
    QVERIFY(settle());
    TestRecord::clearJournal();
    m_clock.advance(1999);
    QVERIFY(pressQuits(pressBack));
    QVERIFY(settle());
    QCOMPARE(TestRecord::journal(), lines("back on first"));
    m_window.reset();

    start();
    m_clock.advance(2000);
    QVERIFY(settle());
    TestRecord::clearJournal();
    QVERIFY(!pressQuits(pressBack));
    // A second press within 2 s quits.
    m_clock.advance(1999);
    QVERIFY(pressQuits(pressBack));

    // On a later scene the Back key runs the other joystick button.
    m_clock.advance(2100);
    m_window->getProject()->gotoSubProject(QStringLiteral("Second"));
    QVERIFY(settle());
    TestRecord::clearJournal();
    QVERIFY(!pressQuits(pressBack));
    QVERIFY(settle());
    QCOMPARE(TestRecord::journal(), lines("back on later"));

    // After a touch on the scene its window has the focus, and the key arrives there.
    const auto pressBackOnScene = [this] {
        QKeyEvent back(QEvent::KeyPress, Qt::Key_Back, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window->getProject()->webView()->quickView(), &back);
    };
    m_clock.advance(2100);
    TestRecord::clearJournal();
    QVERIFY(!pressQuits(pressBackOnScene));
    QVERIFY(settle());
    QCOMPARE(TestRecord::journal(), lines("back on later"));
    QVERIFY(pressQuits(pressBackOnScene));
}

void tst_Startup::touchToScene_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QSize>("container");
    QTest::addColumn<QPointF>("touch");
    QTest::addColumn<QPoint>("scene");
    QTest::newRow("bars left and right") << QSize(2560, 1080) << QSize(1920, 1080) << QPointF(1280, 540)
                                         << QPoint(960, 540);
    QTest::newRow("bars above and below")
        << QSize(1920, 1200) << QSize(1920, 1080) << QPointF(100, 160) << QPoint(100, 100);
    QTest::newRow("exact fit, fraction cut")
        << QSize(1600, 900) << QSize(1600, 900) << QPointF(10.7, 20.2) << QPoint(10, 20);
    QTest::newRow("no container yet") << QSize(800, 600) << QSize(0, 0) << QPointF(10, 10) << QPoint(-390, -290);
}

void tst_Startup::touchToScene()
{
    QFETCH(QSize, window);
    QFETCH(QSize, container);
    QFETCH(QPointF, touch);
    QTEST(WebView::touchToScene(window, container, touch, false), "scene");
}

void tst_Startup::touchReachesEntity()
{
    copyFile(data("tavelo.avx"), userFolder() + QStringLiteral("tavelo.avx"));
    start();
    QVERIFY(settle());
    TestRecord::clearJournal();

    // A finger on the centre of "Button" (frame 200, 200), through the window's touch filter.
    QWidget *central = m_window->centralWidget();
    WebView *bridge = m_window->getProject()->webView();
    const QPoint inContainer = scenePixel(200, 200);
    const QPoint inWindow = bridge->container()->geometry().topLeft() + inContainer;
    static QTouchDevice *device = QTest::createTouchDevice();
    QTouchEvent::TouchPoint point(0);
    point.setPos(inWindow);
    point.setState(Qt::TouchPointPressed);
    QTouchEvent begin(QEvent::TouchBegin, device, Qt::NoModifier, Qt::TouchPointPressed, { point });
    QVERIFY(QCoreApplication::sendEvent(central, &begin));
    point.setState(Qt::TouchPointReleased);
    QTouchEvent end(QEvent::TouchEnd, device, Qt::NoModifier, Qt::TouchPointReleased, { point });
    QVERIFY(QCoreApplication::sendEvent(central, &end));
    QTRY_COMPARE(TestRecord::journal(), lines("button clicked"));
}

void tst_Startup::mouseClickAndDrag_data()
{
    QTest::addColumn<int>("distance");
    QTest::addColumn<QStringList>("journal");
    QTest::newRow("10 pixels is a click") << 10 << lines("piece clicked");
    QTest::newRow("11 pixels drags, dropped on the goal") << 11 << lines("piece clicked|dropped on goal");
}

void tst_Startup::mouseClickAndDrag()
{
    QFETCH(int, distance);
    copyFile(data("tavelo.avx"), userFolder() + QStringLiteral("tavelo.avx"));
    start();
    QVERIFY(settle());
    TestRecord::clearJournal();

    QQuickView *view = m_window->getProject()->webView()->quickView();
    const QPoint piece = scenePixel(650, 150);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, piece);
    // As a hand would, the drag follows once the click script has run: a drop arriving first
    // would rightly stop it.
    QTRY_VERIFY(TestRecord::journal().contains(QStringLiteral("piece clicked")));
    QTest::mouseMove(view, piece + QPoint(distance, 0));
    // Only once dragging does the piece follow the finger; the drop lands on the goal.
    const QPoint release = distance > 10 ? scenePixel(1150, 650) : piece + QPoint(distance, 0);
    if (distance > 10)
        QTest::mouseMove(view, release);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, release);
    QVERIFY(settle());
    QFETCH(QStringList, journal);
    QTRY_COMPARE(TestRecord::journal(), journal);
}

void tst_Startup::scriptsDriveThePlayer()
{
    copyFile(data("scripted.avx"), userFolder() + QStringLiteral("tavelo.avx"));
    copyFile(data("english/tavelo.avx"), userFolder() + QStringLiteral("english/tavelo.avx"));
    start();
    QVERIFY(settle());
    kestProject *project = m_window->getProject();
    const auto click = [project](const char *entity) { project->webView()->qmlClickedEntity(QLatin1String(entity)); };

    // Settings written by one action are read back by the next, and are on disk.
    click("Remember");
    QVERIFY(settle());
    QCOMPARE(kestVariables::variableValue(QStringLiteral("seen colour")), QStringLiteral("blue"));
    QCOMPARE(QSettings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat)
                 .value(QStringLiteral("User/Colour"))
                 .toString(),
        QStringLiteral("blue"));

    // A scene change ends the rest of its script.
    TestRecord::clearJournal();
    click("Leave");
    QVERIFY(settle());
    QTRY_COMPARE(project->currentSubProject()->name(), QStringLiteral("Second"));
    QCOMPARE(TestRecord::journal(), lines("main Second"));

    // LoadFile: the other course first, then the scene in it.
    m_clock.advance(110);
    project->gotoSubProject(QStringLiteral("First"));
    QVERIFY(settle());
    m_clock.advance(110); // the LoadFile's own scene change must not fall in the switch guard
    TestRecord::clearJournal();
    click("Switch");
    QTRY_VERIFY_WITH_TIMEOUT(TestRecord::journal().contains(QStringLiteral("main Second")), 10000);
    QVERIFY(settle());
    // The new course's first scene may or may not get to run its main script before the
    // scene change pre-empts it; the scene asked for runs last either way.
    const QStringList journal = TestRecord::journal();
    QVERIFY2(journal == lines("main English|main Second") || journal == lines("main Second"),
        qPrintable(journal.join(QLatin1Char('|'))));
    QCOMPARE(project->currentSubProject()->name(), QStringLiteral("Second"));

    // CloseApp ends the program's event loop.
    m_clock.advance(110);
    project->loadProject(userFolder() + QStringLiteral("tavelo.avx"));
    QVERIFY(settle());
    QCOMPARE(runApplication(30000, [click] { click("Quit"); }), 0);
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"

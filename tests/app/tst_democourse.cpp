// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled demo course: everything it names exists, and it plays through to its end with
// the real runtime, a real scene offscreen and simulated clicks and drops.
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestentity.h"
#include "kestproject.h"
#include "kestsubproject.h"
#include "kestthread.h"
#include "logcapture.h"
#include "scriptbuilder.h"
#include "testactions.h"
#include "testclock.h"
#include "testfiles.h"
#include "variablestore.h"
#include "webview.h"

#include <QDate>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QImageReader>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>
#include <QtTest>

#include <memory>

namespace {

const QString CourseFolder = QStringLiteral(KEST_SOURCE_DIR "/demo/course/");

QDomDocument courseDocument()
{
    QDomDocument doc;
    doc.setContent(readFile(CourseFolder + QStringLiteral("tavelo.avx")));
    return doc;
}

QList<QDomElement> elementsNamed(const QDomDocument &doc, const QString &tag)
{
    QList<QDomElement> found;
    const QDomNodeList nodes = doc.elementsByTagName(tag);
    for (int i = 0; i < nodes.size(); ++i)
        found << nodes.at(i).toElement();
    return found;
}

// The text of an action's first argument when that is a plain Text element.
QString firstTextArgument(const QDomElement &action)
{
    const QDomElement text = action.firstChildElement(QStringLiteral("Text"));
    return text.text().trimmed();
}

QStringList sceneNames(const QDomDocument &doc)
{
    QStringList names;
    for (const QDomElement &sub : elementsNamed(doc, QStringLiteral("SubProject"))) {
        if (!sub.hasAttribute(QStringLiteral("MenuBar")))
            names << sub.firstChildElement(QStringLiteral("Name")).text().trimmed();
    }
    return names;
}

// The sources of the pictures the scene shows; those that did not load also go to broken.
QStringList scenePictures(QQuickItem *item, QStringList *broken = nullptr)
{
    QStringList shown;
    for (QQuickItem *child : item->childItems()) {
        // Without the query, which only tells versions of a file apart.
        const QString source = child->inherits("QQuickImage")
            ? child->property("source").toUrl().adjusted(QUrl::RemoveQuery).toString()
            : QString();
        if (!source.isEmpty()) {
            shown << source;
            if (broken && child->property("status").toInt() != 1) // Image.Ready
                *broken << source;
        }
        shown << scenePictures(child, broken);
    }
    return shown;
}

QObject *sceneObject(QQuickItem *sceneItem, const char *name)
{
    return sceneItem->window()->contentItem()->findChild<QObject *>(QLatin1String(name));
}

// The text of an entity's label.
QString labelOf(QQuickItem *sceneItem, const char *entity)
{
    auto *item = qobject_cast<QQuickItem *>(sceneObject(sceneItem, entity));
    if (!item)
        return QStringLiteral("<no entity>");
    for (QQuickItem *child : item->childItems()) {
        if (child->inherits("QQuickText"))
            return child->property("text").toString();
    }
    return QStringLiteral("<no label>");
}

} // namespace

class tst_DemoCourse : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void namedFilesExist_data();
    void namedFilesExist();
    void scriptsUseRegisteredActions();
    void navigationTargetsExist_data();
    void navigationTargetsExist();
    void mainPath();
    void wrongDropsKeepTheBasket();
    void returningLearner();
    // Last: quitting ends the event loops the test relies on.
    void quitButton();

private:
    TestClock m_clock; // the switch guard and the Back key see only the time stepped here
    bool load();
    QString scene() const;
    QString setting(const char *key) const;
    // Input as the scene reports it, clear of the 100 ms guard between scene changes.
    void click(const char *entity);
    void drop(const char *dragged, const char *target);
    int entityId(const char *entity) const;

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<QWidget> m_host;
    std::unique_ptr<QTemporaryDir> m_userFolder;
    QString m_courseCopy;
    kestProject *m_project = nullptr;
};

void tst_DemoCourse::initTestCase()
{
    QVERIFY(QFile::exists(CourseFolder + QStringLiteral("tavelo.avx")));
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    m_host = std::make_unique<QWidget>();
    m_host->resize(1600, 900);
    m_host->show();
}

void tst_DemoCourse::init()
{
    kestVariables::clear();
    m_userFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_userFolder->isValid());
    const QString folder = m_userFolder->path() + QLatin1Char('/');
    // As the player keeps it: in the user folder, where recordings go too.
    QVERIFY(copyTree(CourseFolder, folder));
    m_courseCopy = folder;
    kestVariables::assignVariable(QStringLiteral("USERPATH"), folder);
    kestVariables::assignVariable(QStringLiteral("INIPATH"), folder);
    m_app->setProjectPath(folder);
    m_project = new kestProject(m_host.get());
    new kestCommandRouter(m_app.get(), m_project);
}

void tst_DemoCourse::cleanup()
{
    QVERIFY(kestThread::shutdownAll(10000));
    delete m_project;
    m_project = nullptr;
    QVERIFY(kestThread::shutdownAll(10000));
}

// As start-up does: the project, then the course's variables.
bool tst_DemoCourse::load()
{
    if (!m_project->loadProject(m_courseCopy + QStringLiteral("tavelo.avx")))
        return false;
    m_project->loadExternVariables(m_app->projectPath() + QStringLiteral("variables_win.txt"));
    return QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000);
}

QString tst_DemoCourse::scene() const
{
    kestSubProject *current = m_project->currentSubProject();
    return current ? current->name() : QString();
}

QString tst_DemoCourse::setting(const char *key) const
{
    QSettings ini(m_userFolder->filePath(QStringLiteral("Tavelo.ini")), QSettings::IniFormat);
    return ini.value(QStringLiteral("Demo/") + QLatin1String(key)).toString();
}

void tst_DemoCourse::click(const char *entity)
{
    m_clock.advance(110);
    m_project->webView()->qmlClickedEntity(QLatin1String(entity));
    QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
}

void tst_DemoCourse::drop(const char *dragged, const char *target)
{
    m_clock.advance(110);
    m_project->webView()->qmlDropEntity(QLatin1String(dragged), QLatin1String(target));
    QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
}

int tst_DemoCourse::entityId(const char *entity) const
{
    kestEntity *e = m_project->currentSubProject()->entity(QLatin1String(entity));
    return e ? e->getID() : -1;
}

void tst_DemoCourse::namedFilesExist_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("aspect"); // width / height the course draws it at; 0: not a picture

    QTest::newRow("variables_win.txt") << QStringLiteral("variables_win.txt") << 0.0;
    const QDomDocument doc = courseDocument();
    QVERIFY(!doc.isNull());
    for (const QDomElement &entity : elementsNamed(doc, QStringLiteral("Entity"))) {
        for (const char *attribute : { "Filename", "ImageFilename" }) {
            const QString file = entity.attribute(QLatin1String(attribute));
            if (file.isEmpty())
                continue;
            const double aspect = entity.attribute(QStringLiteral("Width")).toDouble()
                / entity.attribute(QStringLiteral("Height")).toDouble();
            const QString row = entity.attribute(QStringLiteral("Name")) + QLatin1Char(' ') + file;
            QTest::newRow(qPrintable(row)) << file << aspect;
        }
    }
    // Files that scripts name: sounds, texts, frame lists and the frames they list. A recording
    // is made by the course itself.
    const QList<QPair<const char *, int>> fileArguments
        = { { "PlaySound", 0 }, { "PlayTextFile", 0 }, { "ShowTextfile", 1 }, { "PngAnimate", 2 } };
    for (const auto &[action, index] : fileArguments) {
        for (const QDomElement &element : elementsNamed(doc, QLatin1String(action))) {
            QDomElement argument = element.firstChildElement();
            for (int i = 0; i < index; ++i)
                argument = argument.nextSiblingElement();
            const QString file = argument.text().trimmed().replace(QLatin1Char('\\'), QLatin1Char('/'));
            if (file.startsWith(QLatin1String("recordings/")))
                continue;
            QTest::newRow(qPrintable(QLatin1String(action) + QLatin1Char(' ') + file)) << file << 0.0;
            if (QLatin1String(action) != QLatin1String("PngAnimate"))
                continue;
            const QByteArray list = readFile(CourseFolder + file);
            QVERIFY2(!list.isEmpty(), qPrintable(file));
            for (const QString &frame : QString::fromUtf8(list).trimmed().split(QLatin1Char(','))) {
                const QString name = QString(frame).replace(QLatin1Char('\\'), QLatin1Char('/'));
                QTest::newRow(qPrintable(QStringLiteral("frame ") + name)) << name << 1.0;
            }
        }
    }
}

void tst_DemoCourse::namedFilesExist()
{
    QFETCH(QString, file);
    QFETCH(double, aspect);
    const QString path = CourseFolder + file;
    QVERIFY2(QFile::exists(path), qPrintable(path));
    if (aspect == 0.0)
        return;
    // The scene stretches a picture to its entity: the shapes must agree, or it is distorted.
    const QSize size = QImageReader(path).size();
    QVERIFY2(size.isValid(), qPrintable(path + QStringLiteral(" is not a picture")));
    QVERIFY2(qAbs(double(size.width()) / size.height() - aspect) < 0.02 * aspect,
        qPrintable(QStringLiteral("%1 is %2x%3").arg(file).arg(size.width()).arg(size.height())));
}

void tst_DemoCourse::scriptsUseRegisteredActions()
{
    // An action type the player does not know is skipped silently, with everything inside it.
    const QDomDocument doc = courseDocument();
    QStringList unknown;
    for (const QDomElement &code : elementsNamed(doc, QStringLiteral("Code"))) {
        const QDomNodeList inner = code.elementsByTagName(QStringLiteral("*"));
        for (int i = 0; i < inner.size(); ++i) {
            const QString tag = inner.at(i).toElement().tagName();
            if (!kestScriptBuilder::isRegistered(tag) && !unknown.contains(tag))
                unknown << tag;
        }
    }
    QCOMPARE(unknown, QStringList());
    QVERIFY(elementsNamed(doc, QStringLiteral("Code")).size() > 10);
}

void tst_DemoCourse::navigationTargetsExist_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("target");
    const QDomDocument doc = courseDocument();
    QStringList rows;
    for (const char *action : { "ChangeLevel", "CallProcedure" }) {
        for (const QDomElement &element : elementsNamed(doc, QLatin1String(action))) {
            const QString target = firstTextArgument(element);
            const QString row = QLatin1String(action) + QLatin1Char(' ') + target;
            if (rows.contains(row))
                continue;
            rows << row;
            QTest::newRow(qPrintable(row)) << QString::fromLatin1(action) << target;
        }
    }
}

void tst_DemoCourse::navigationTargetsExist()
{
    QFETCH(QString, action);
    QFETCH(QString, target);
    const QDomDocument doc = courseDocument();
    // A scene or procedure name that matches nothing does nothing, without a word.
    if (action == QLatin1String("ChangeLevel")) {
        const bool keyword = target.startsWith(QLatin1Char('%'));
        QVERIFY2(keyword || sceneNames(doc).contains(target), qPrintable(target));
        if (keyword)
            QVERIFY(target == QLatin1String("%NEXT") || target == QLatin1String("%PREVIOUS")
                || target == QLatin1String("%REPEAT"));
        return;
    }
    QStringList procedures;
    for (const QDomElement &code : elementsNamed(doc, QStringLiteral("Code")))
        procedures << code.firstChild().nodeValue().trimmed();
    QVERIFY2(procedures.contains(target), qPrintable(target));
}

void tst_DemoCourse::mainPath()
{
    QVERIFY(load());
    LogCapture log;
    QCOMPARE(m_project->subProjects().size(), 8);
    QCOMPARE(m_project->menuBarSubProjects().size(), 1);
    QCOMPARE(m_project->procedureSubProjects().size(), 1);
    QCOMPARE(scene(), QStringLiteral("Welcome"));
    QCOMPARE(kestVariables::variableValue(QStringLiteral("Goal")), QStringLiteral("3"));

    click("Start");
    QTRY_COMPARE(scene(), QStringLiteral("Pictures"));
    // The pictures reach the scene from the course folder.
    QQuickItem *sceneItem = m_project->webView()->sceneItem();
    QTRY_COMPARE(scenePictures(sceneItem).size(), 3);
    QStringList broken;
    const QStringList shown = scenePictures(sceneItem, &broken);
    QCOMPARE(broken, QStringList());
    QCOMPARE(shown.first(), QUrl::fromLocalFile(m_courseCopy + QStringLiteral("pictures/apple.png")).toString());
    // The pictures have changed places.
    QCOMPARE(log.startingWith(QStringLiteral("[LibShufflePosition] :  Apple;")).size(), 1);

    // Three clicks on the pictures, the last one chosen is remembered; a label counts them.
    click("Apple");
    click("Pear");
    QCOMPARE(scene(), QStringLiteral("Pictures"));
    QCOMPARE(kestVariables::variableValue(QStringLiteral("Clicks")), QStringLiteral("2"));
    QTRY_COMPARE(labelOf(sceneItem, "Hint"), QStringLiteral("Clicks so far: 2 of 3"));
    click("Cherry");
    QTRY_COMPARE(scene(), QStringLiteral("Basket"));
    QCOMPARE(setting("Favourite"), QStringLiteral("Cherry"));

    drop("AppleToDrag", "Basket");
    QTRY_COMPARE(scene(), QStringLiteral("Well done"));

    click("Next");
    QTRY_COMPARE(scene(), QStringLiteral("Quiz"));
    click("Answer4");
    QTRY_COMPARE(scene(), QStringLiteral("Not quite"));
    QCOMPARE(setting("Completed"), QString());
    click("TryAgain");
    QTRY_COMPARE(scene(), QStringLiteral("Quiz"));
    log.clear();
    click("Answer3");
    QTRY_COMPARE(scene(), QStringLiteral("All done"));
    // The scene went on only after the scene had reported the sound finished.
    const QString rightSound = QUrl::fromLocalFile(m_courseCopy + QStringLiteral("sounds/right.wav")).toString();
    QCOMPARE(log.startingWith(QStringLiteral("[LIB] PlaySound: Stopping my Loop! File: ") + rightSound).size(), 1);
    QCOMPARE(setting("Completed"), QStringLiteral("yes"));
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy.MM.dd"));
    QCOMPARE(setting("Result"), QStringLiteral("Learner found 3 cherries on try number 2, ") + today);

    // The menu bar answers in every scene: Back walks the way the learner came.
    click("MenuBack");
    QTRY_COMPARE(scene(), QStringLiteral("Quiz"));
    // Home leads a learner who has finished on to the greeting for returning learners.
    click("MenuHome");
    QTRY_COMPARE(scene(), QStringLiteral("Welcome back"));
}

void tst_DemoCourse::wrongDropsKeepTheBasket()
{
    QVERIFY(load());
    click("Start");
    QTRY_COMPARE(scene(), QStringLiteral("Pictures"));
    for (const char *fruit : { "Pear", "Pear", "Pear" })
        click(fruit);
    QTRY_COMPARE(scene(), QStringLiteral("Basket"));

    // A wrong fruit dropped into the basket goes back to where it was picked up.
    QObject *pear = sceneObject(m_project->webView()->sceneItem(), "PearToDrag");
    QVERIFY(pear);
    const int before = entityId("PearToDrag");
    const double startX = pear->property("lastSetX").toDouble();
    QMetaObject::invokeMethod(pear, "dragToPos", Q_ARG(QVariant, 1200), Q_ARG(QVariant, 600));
    QVERIFY(pear->property("lastSetX").toDouble() != startX);
    drop("PearToDrag", "Basket");
    QTRY_COMPARE(pear->property("lastSetX").toDouble(), startX);
    QCOMPARE(entityId("PearToDrag"), before);
    QCOMPARE(scene(), QStringLiteral("Basket"));

    // A drop beside the basket runs nothing: once a later wrong drop has been answered, the
    // apple has not been taken in and the scene is the same.
    const int kept = entityId("AppleToDrag");
    LogCapture log;
    drop("AppleToDrag", "Background");
    QObject *apple = sceneObject(m_project->webView()->sceneItem(), "AppleToDrag");
    QVERIFY(apple);
    const double appleX = apple->property("lastSetX").toDouble();
    QMetaObject::invokeMethod(pear, "dragToPos", Q_ARG(QVariant, 1200), Q_ARG(QVariant, 600));
    drop("PearToDrag", "Basket");
    QTRY_COMPARE(pear->property("lastSetX").toDouble(), startX);
    QCOMPARE(log.startingWith(QStringLiteral("[LIB] PlaySound (")).size(), 1); // the pear's alone
    QCOMPARE(apple->property("lastSetX").toDouble(), appleX);
    QCOMPARE(entityId("AppleToDrag"), kept);
    QCOMPARE(scene(), QStringLiteral("Basket"));
}

void tst_DemoCourse::returningLearner()
{
    {
        QSettings ini(m_userFolder->filePath(QStringLiteral("Tavelo.ini")), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Demo/Completed"), QStringLiteral("yes"));
    }
    QVERIFY(load());
    QTRY_COMPARE(scene(), QStringLiteral("Welcome back"));

    // Forgetting brings the plain welcome back, and it stays.
    click("ForgetMe");
    QTRY_COMPARE(scene(), QStringLiteral("Welcome"));
    QCOMPARE(setting("Completed"), QStringLiteral("no"));
    // The scene's entry script, which would send a finished learner on after its Wait, has
    // ended, and what it asked for has been handled: no script is left.
    QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
    QCOMPARE(scene(), QStringLiteral("Welcome"));

    click("Start");
    QTRY_COMPARE(scene(), QStringLiteral("Pictures"));
    click("MenuBack");
    QTRY_COMPARE(scene(), QStringLiteral("Welcome"));
}

void tst_DemoCourse::quitButton()
{
    QVERIFY(load());
    LogCapture log;
    m_clock.advance(110);
    // The script asks for the quit from its thread, queued: the loop must already run when it
    // arrives, so no events are processed in between.
    m_project->webView()->qmlClickedEntity(QStringLiteral("MenuQuit"));
    QEventLoop loop;
    QTimer::singleShot(30000, &loop, [&loop] { loop.exit(2); });
    QCOMPARE(loop.exec(), 0);
    QCOMPARE(log.count(QStringLiteral("Close App!")), 1);
}

QTEST_MAIN(tst_DemoCourse)
#include "tst_democourse.moc"

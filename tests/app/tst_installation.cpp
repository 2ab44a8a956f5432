// SPDX-License-Identifier: GPL-3.0-or-later
// Course installation from a real Apache on loopback: the first and the unchanged second start
// of the player, raised versions, offline starts, hostile catalogues and documents, and an
// update whose fetch fails. Every case has its own documents folder and a fresh server tree.
#include "apacheserver.h"
#include "courseinstaller.h"
#include "deployment.h"
#include "kestapplication.h"
#include "kestora.h"
#include "kestprogress.h"
#include "kestthread.h"
#include "logcapture.h"
#include "servertree.h"
#include "testactions.h"
#include "testfiles.h"
#include "variablestore.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QDomDocument>
#include <QMessageBox>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString ServerData = QStringLiteral(KEST_TEST_DATA_DIR "/installation/server");
const QString English = QStringLiteral("TAVELO English Version");

// Every file below folder, relative, with a digest of its content.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(
            QDir(folder).relativeFilePath(path), QCryptographicHash::hash(readFile(path), QCryptographicHash::Md5));
    }
    return files;
}

QStringList relativeFiles(const QString &folder)
{
    return snapshot(folder).keys();
}

// The requested paths of access log lines ("GET /tavelo/x HTTP/1.1 200" gives "/tavelo/x 200").
QStringList paths(const QStringList &requests)
{
    QStringList result;
    for (const QString &line : requests) {
        const QStringList fields = line.split(QLatin1Char(' '));
        result << fields.value(1) + QLatin1Char(' ') + fields.value(3);
    }
    return result;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

const QStringList CourseFiles = sorted({
    QStringLiteral("common.avx"),
    QStringLiteral("tavelo.avx"),
    QStringLiteral("extra.avx"),
    QStringLiteral("variables_win.txt"),
    QStringLiteral("pictures/common.png"),
    QStringLiteral("pictures/logo.png"),
    QStringLiteral("pictures/back.jpg"),
    QStringLiteral("pictures/star.png"),
    QStringLiteral("sounds/shared.mp3"),
    QStringLiteral("sounds/intro.mp3"),
    QStringLiteral("sounds/a.mp3"),
    QStringLiteral("sounds/b.mp3"),
    QStringLiteral("sounds/word1.mp3"),
    QStringLiteral("sounds/word2.mp3"),
    QStringLiteral("lists/words.lst"),
    QStringLiteral("texts/story.txt"),
});

} // namespace

class tst_Installation : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstAndSecondStart();
    void raisedVersion_data();
    void raisedVersion();
    void offlineWithLocalCatalogue();
    void catalogueFailure();
    void hostileCatalogue_data();
    void hostileCatalogue();
    void hostileNamesInCourseFiles();
    void linkedCourseFolderIsNotEmptied();
    void failedUpdateKeepsOldFile();

private:
    QString userFolder() const { return m_home->path() + QStringLiteral("/Documents/Tavelo/"); }
    QString serverFile(const QString &name) const { return m_serverRoot.path() + QStringLiteral("/tavelo/") + name; }
    // Copies the server tree, with this server's address in its catalogue.
    void resetServer();
    void editServerCatalogue(const QString &from, const QString &to);
    QStringList newRequests();
    // One start's catalogue phase and installation of title, without the window.
    std::unique_ptr<CourseInstaller> install(bool online, const QString &title = English);
    QString englishEntry(const QByteArray &catalogue, int *count = nullptr) const;

    QTemporaryDir m_serverRoot; // outlives the server that serves it
    ApacheServer m_apache;
    std::unique_ptr<QTemporaryDir> m_home;
    int m_requestsSeen = 0;
    QStringList m_warnings;
    QTimer m_boxWatch;
};

void tst_Installation::initTestCase()
{
    registerTestActions();
    QVERIFY(m_serverRoot.isValid());
    QVERIFY2(m_apache.start(m_serverRoot.path(), QStringLiteral("kestor"), QStringLiteral("lesson")),
        qPrintable(m_apache.errorLog()));
    kestDeployment deployment = kestDeployment::defaults();
    deployment.courseServerHost = m_apache.host();
    deployment.catalogueUser = QStringLiteral("kestor");
    deployment.cataloguePassword = QStringLiteral("lesson");
    deployment.probeUrl = QStringLiteral("http://") + m_apache.host() + QLatin1Char('/');
    kestDeployment::setCurrent(deployment);
    // The window shows download problems in modal boxes: note them and close them.
    connect(&m_boxWatch, &QTimer::timeout, this, [this] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible()) {
                m_warnings << box->text();
                box->accept();
            }
        }
    });
    m_boxWatch.start(50);
}

void tst_Installation::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    QDir().mkpath(userFolder());
    kestVariables::clear();
    m_warnings.clear();
    resetServer();
    newRequests();
}

void tst_Installation::cleanup()
{
    QCOMPARE(kestThread::liveCount(), 0);
}

void tst_Installation::resetServer()
{
    QVERIFY(copyServerTree(ServerData, m_serverRoot.path(), m_apache.host()));
}

void tst_Installation::editServerCatalogue(const QString &from, const QString &to)
{
    QString catalogue = QString::fromUtf8(readFile(serverFile(QStringLiteral("tavelo.xml"))));
    QVERIFY(catalogue.contains(from));
    writeFile(serverFile(QStringLiteral("tavelo.xml")), catalogue.replace(from, to).toUtf8());
}

QStringList tst_Installation::newRequests()
{
    const QStringList all = m_apache.requests();
    const QStringList fresh = all.mid(m_requestsSeen);
    m_requestsSeen = all.size();
    return paths(fresh);
}

std::unique_ptr<CourseInstaller> tst_Installation::install(bool online, const QString &title)
{
    auto installer = std::make_unique<CourseInstaller>(userFolder(), m_apache.host(), QStringLiteral("kestor:lesson"));
    connect(installer.get(), &CourseInstaller::warning, this, [this](const QString &text) { m_warnings << text; });
    KestProgress progress;
    if (installer->readCatalogues(online))
        installer->installAndMerge(title, &progress);
    return installer;
}

// The English entries of a catalogue, serialised; count is how many there are.
QString tst_Installation::englishEntry(const QByteArray &catalogue, int *count) const
{
    QDomDocument doc;
    doc.setContent(catalogue);
    QString last;
    int found = 0;
    for (QDomElement e = doc.documentElement().firstChildElement(QStringLiteral("project")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("project"))) {
        if (e.attribute(QStringLiteral("Name")) == English) {
            ++found;
            QString text;
            QTextStream out(&text);
            e.save(out, 1);
            last = text;
        }
    }
    if (count)
        *count = found;
    return last;
}

void tst_Installation::firstAndSecondStart()
{
    // A fresh user folder and a remembered course: no dialog, the course comes from the server.
    const QString course = userFolder() + QStringLiteral("english/");
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"),
        "[User]\ndefaultLoadCourse=TAVELO English Version\ndefaultLoadCoursePath=" + QFile::encodeName(course)
            + "tavelo.avx\n");
    auto window = std::make_unique<Kestora>(qApp);
    QVERIFY(window->isOnline());
    QCOMPARE(m_warnings, QStringList());
    QCOMPARE(relativeFiles(course), CourseFiles);
    // The part marked "True" is the main document; "true" is not.
    QCOMPARE(window->mainProjectFile(), course + QStringLiteral("tavelo.avx"));
    QCOMPARE(window->courseFolder(), course);
    QCOMPARE(kestVariables::variableValue(QStringLiteral("USERPATH")), course);
    QCOMPARE(readFile(course + QStringLiteral("lists/words.lst")),
        readFile(serverFile(QStringLiteral("english/lists/words.lst"))));
    QVERIFY(!QFile::exists(userFolder() + QStringLiteral("temp_tavelo.xml")));
    QVERIFY(!window->progressWindow()->isVisible());
    QVERIFY(window->progressWindow()->overallBar()->value() >= 99);
    QVERIFY(window->progressWindow()->overallBar()->accessibleName().endsWith(QLatin1String(" Percent.")));

    const QStringList requests = newRequests();
    QCOMPARE(requests.count(QStringLiteral("/tavelo/tavelo.xml 200")), 1);
    QCOMPARE(requests.filter(QStringLiteral(" 404")), QStringList { QStringLiteral("/ 404") }); // only the probe
    QVERIFY(!requests.contains(QStringLiteral("/tavelo/english/USERPATH/mine.png 200")));

    // The local catalogue: document type "list", root "root", one copy of the course's entry.
    const QByteArray local = readFile(userFolder() + QStringLiteral("tavelo.xml"));
    QVERIFY(local.startsWith("<!DOCTYPE list>\n<root>\n <project"));
    int entries = 0;
    const QString entry = englishEntry(local, &entries);
    QCOMPARE(entries, 1);
    QCOMPARE(entry, englishEntry(readFile(serverFile(QStringLiteral("tavelo.xml")))));
    QVERIFY(!local.contains("German"));

    // The course runs.
    QTRY_COMPARE(QSettings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat)
                     .value(QStringLiteral("Course/Started"))
                     .toString(),
        QStringLiteral("yes"));
    QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
    window.reset();

    // Second start, nothing changed on the server: only the probe and the catalogue are asked for.
    const auto before = snapshot(userFolder());
    window = std::make_unique<Kestora>(qApp);
    const QStringList second = newRequests();
    QCOMPARE(second, QStringList({ QStringLiteral("/ 404"), QStringLiteral("/tavelo/tavelo.xml 200") }));
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), local);
    QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
    window.reset();
    QCOMPARE(snapshot(userFolder()).keys(), before.keys());
    QCOMPARE(m_warnings, QStringList());
}

void tst_Installation::raisedVersion_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("folderDeleted");
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<int>("entries");
    // The address has the course's Folder as a segment: the course is installed afresh.
    QTest::newRow("with the Folder segment") << QStringLiteral("english/extra.avx") << true << QStringList() << 1;
    // Otherwise only that part and what it names is fetched, and the catalogue gets a second entry.
    QTest::newRow("without the Folder segment")
        << QStringLiteral("shared/common.avx") << false
        << QStringList { QStringLiteral("/tavelo/tavelo.xml 200"), QStringLiteral("/tavelo/shared/common.avx 200"),
               QStringLiteral("/tavelo/shared/variables_win.txt 200"),
               QStringLiteral("/tavelo/shared/pictures/common.png 200"),
               QStringLiteral("/tavelo/shared/sounds/shared.mp3 200") }
        << 2;
}

void tst_Installation::raisedVersion()
{
    QFETCH(QString, part);
    QFETCH(bool, folderDeleted);
    const QString course = userFolder() + QStringLiteral("english/");
    install(true);
    QCOMPARE(relativeFiles(course), CourseFiles);
    writeFile(course + QStringLiteral("notes/mine.txt"), "a file of the learner's own");
    newRequests();

    editServerCatalogue(part + QStringLiteral("\" version=\"1\""), part + QStringLiteral("\" version=\"2\""));
    auto installer = install(true);
    // The German course, never installed here, is new on every start; of the English parts only the raised one.
    QCOMPARE(installer->downloadList(),
        QStringList({ QStringLiteral("http://") + m_apache.host() + QStringLiteral("/tavelo/") + part,
            QStringLiteral("http://") + m_apache.host() + QStringLiteral("/tavelo/german/tavelo.avx") }));
    QCOMPARE(QFile::exists(course + QStringLiteral("notes/mine.txt")), !folderDeleted);
    QCOMPARE(relativeFiles(course).contains(QStringLiteral("tavelo.avx")), true);
    const QStringList requests = newRequests();
    if (folderDeleted) {
        // Every part was missing and so fetched again.
        for (const QString &name : { QStringLiteral("shared/common.avx"), QStringLiteral("english/tavelo.avx"),
                 QStringLiteral("english/extra.avx") })
            QVERIFY2(requests.contains(QStringLiteral("/tavelo/") + name + QStringLiteral(" 200")), qPrintable(name));
        QCOMPARE(relativeFiles(course), CourseFiles);
    } else {
        QFETCH(QStringList, fetched);
        QCOMPARE(requests, fetched);
    }
    int entries = 0;
    const QString entry = englishEntry(readFile(userFolder() + QStringLiteral("tavelo.xml")), &entries);
    QTEST(entries, "entries");
    QCOMPARE(entry.count(QStringLiteral("version=\"2\"")), 1);
    QCOMPARE(m_warnings, QStringList());
}

void tst_Installation::offlineWithLocalCatalogue()
{
    const QString course = userFolder() + QStringLiteral("english/");
    install(true);
    QFile::remove(course + QStringLiteral("sounds/a.mp3"));
    const QByteArray local = readFile(userFolder() + QStringLiteral("tavelo.xml"));
    newRequests();

    auto installer = install(false);
    QVERIFY(installer->courseInstalled());
    QCOMPARE(installer->courseFolder(), course);
    QCOMPARE(installer->mainProjectFile(), course + QStringLiteral("tavelo.avx"));
    QCOMPARE(installer->offeredTitles(), QStringList { English });
    QCOMPARE(newRequests(), QStringList());
    QVERIFY(!QFile::exists(course + QStringLiteral("sounds/a.mp3")));
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), local);

    // A course that no catalogue offers: nothing is installed or merged.
    installer = install(false, QStringLiteral("TAVELO Latvian Version"));
    QVERIFY(!installer->courseInstalled());
    QCOMPARE(installer->mainProjectFile(), QString());
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), local);
}

void tst_Installation::catalogueFailure()
{
    // Nothing listens at the server's address: no catalogue, and the caller must end the start.
    CourseInstaller installer(userFolder(), QStringLiteral("127.0.0.1:") + QString::number(ApacheServer::freePort()),
        QStringLiteral("kestor:lesson"));
    connect(&installer, &CourseInstaller::warning, this, [this](const QString &text) { m_warnings << text; });
    writeFile(userFolder() + QStringLiteral("temp_tavelo.xml"), "<!DOCTYPE list>\n<root/>\n"); // left by an earlier run
    QVERIFY(!installer.readCatalogues(true));
    QCOMPARE(m_warnings,
        QStringList { QStringLiteral("Error downloading file: ") + userFolder() + QStringLiteral("temp_tavelo.xml") });
    QVERIFY(!QFile::exists(userFolder() + QStringLiteral("tavelo.xml")));
}

void tst_Installation::hostileCatalogue_data()
{
    QTest::addColumn<QString>("project"); // the English entry of the server catalogue
    QTest::addColumn<bool>("installed");
    const auto entry = [](const char *folder, const char *url = "english/tavelo.avx") {
        return QStringLiteral("<project Name=\"TAVELO English Version\" Folder=\"%1\">"
                              "<part Url=\"http://@HOST@/tavelo/%2\" version=\"9\" main=\"True\"/></project>")
            .arg(QLatin1String(folder), QLatin1String(url));
    };
    // An empty Folder matches the empty segment of "http://" in every address.
    QTest::newRow("empty Folder") << entry("") << false;
    QTest::newRow("Folder is the user folder") << entry(".") << false;
    QTest::newRow("Folder climbs out") << entry("../..") << false;
    QTest::newRow("Folder climbs out and back") << entry("english/../..") << false;
    QTest::newRow("Folder with backslashes") << entry("..\\..\\Documents") << false;
    QTest::newRow("absolute Folder") << entry("/tmp") << false;
    QTest::newRow("Folder with a drive") << entry("C:\\Users") << false;
    QTest::newRow("part named ..") << entry("english", "english/..") << true;
    QTest::newRow("part name climbs with backslashes") << entry("english", "english/..\\..\\Tavelo.ini") << true;
    QTest::newRow("part address ends in /") << entry("english", "english/") << true;
}

void tst_Installation::hostileCatalogue()
{
    QFETCH(QString, project);
    // The learner's things around the course, and a local catalogue whose entry is outdated, so
    // that the stale-course rule is in play.
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"), "[User]\ndefaultLoadCourse=###start###\n");
    writeFile(userFolder() + QStringLiteral("german/keep.avx"), "another course");
    writeFile(userFolder() + QStringLiteral("english/keep.txt"), "the course before");
    writeFile(m_home->path() + QStringLiteral("/Documents/letter.txt"), "the learner's letter");
    writeFile(m_home->path() + QStringLiteral("/elsewhere/keep.txt"), "outside the documents");
    project.replace(QStringLiteral("@HOST@"), m_apache.host());
    const QByteArray local = "<!DOCTYPE list>\n<root>\n"
        + project.replace(QStringLiteral("version=\"9\""), QStringLiteral("version=\"1\"")).toUtf8() + "\n</root>\n";
    writeFile(userFolder() + QStringLiteral("tavelo.xml"), local);
    project.replace(QStringLiteral("version=\"1\""), QStringLiteral("version=\"9\""));
    writeFile(serverFile(QStringLiteral("tavelo.xml")), "<!DOCTYPE list>\n<root>\n" + project.toUtf8() + "\n</root>\n");
    const auto before = snapshot(m_home->path());

    LogCapture log;
    auto installer = install(true);
    QVERIFY(!installer->downloadList().isEmpty());
    QTEST(installer->courseInstalled(), "installed");
    QCOMPARE(installer->mainProjectFile(), QString());

    // Nothing was written or deleted but the course folder and the local catalogue.
    auto after = snapshot(m_home->path());
    for (auto it = after.begin(); it != after.end();) {
        const bool installed = it.key().startsWith(QLatin1String("Documents/Tavelo/english/"))
            && it.key() != QLatin1String("Documents/Tavelo/english/keep.txt");
        it = installed || it.key() == QLatin1String("Documents/Tavelo/tavelo.xml") ? after.erase(it) : std::next(it);
    }
    auto expected = before;
    expected.remove(QStringLiteral("Documents/Tavelo/tavelo.xml"));
    if (installer->courseInstalled())
        expected.remove(QStringLiteral("Documents/Tavelo/english/keep.txt")); // the stale course, rightly gone
    QCOMPARE(after, expected);
    QVERIFY(!log.startingWith(QStringLiteral("Course not installed")).isEmpty()
        || !log.startingWith(QStringLiteral("Refused a part")).isEmpty());
}

void tst_Installation::hostileNamesInCourseFiles()
{
    // The course's own documents name files outside its folder; on the server such files exist.
    writeFile(serverFile(QStringLiteral("english/tavelo.avx")),
        "<Course><E Filename=\"../../../../escape.png\"/><E Filename=\"/tmp/abs.png\"/>"
        "<S>..\\..\\up.mp3,sounds/a.mp3</S><L>../lists/out.lst</L></Course>");
    writeFile(serverFile(QStringLiteral("english/variables_win.txt")),
        "[Global]\nEvil=..\\..\\..\\Tavelo.ini.txt\nList=lists\\in.lst\n");
    writeFile(serverFile(QStringLiteral("english/lists/in.lst")), "../../../../listed.mp3,sounds/b.mp3\n");
    for (const char *name : { "escape.png", "up.mp3", "listed.mp3", "Tavelo.ini.txt", "tavelo/lists/out.lst" })
        writeFile(m_serverRoot.path() + QLatin1Char('/') + QLatin1String(name), "hostile");
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"), "[User]\ndefaultLoadCourse=###start###\n");
    const auto before = snapshot(m_home->path());

    LogCapture log;
    auto installer = install(true);
    QVERIFY(installer->courseInstalled());
    const QString course = userFolder() + QStringLiteral("english/");
    QVERIFY(QFile::exists(course + QStringLiteral("sounds/a.mp3")));
    QVERIFY(QFile::exists(course + QStringLiteral("sounds/b.mp3")));
    QVERIFY(log.startingWith(QStringLiteral("Refused a file name that leaves the course folder: ")).size() >= 5);

    auto after = snapshot(m_home->path());
    for (auto it = after.begin(); it != after.end();)
        it = it.key().startsWith(QLatin1String("Documents/Tavelo/english/"))
                || it.key() == QLatin1String("Documents/Tavelo/tavelo.xml")
            ? after.erase(it)
            : std::next(it);
    QCOMPARE(after, before);
    for (const QString &request : newRequests())
        QVERIFY2(!request.contains(QLatin1String("up.mp3")) && !request.contains(QLatin1String("escape"))
                && !request.contains(QLatin1String("listed")),
            qPrintable(request));
}

void tst_Installation::linkedCourseFolderIsNotEmptied()
{
    // The course folder is a link to a folder of the learner's elsewhere, and the course is due
    // for a fresh installation: the link is neither followed nor emptied.
    const QString elsewhere = m_home->path() + QStringLiteral("/elsewhere/");
    writeFile(elsewhere + QStringLiteral("thesis.txt"), "years of work");
    QVERIFY(QFile::link(elsewhere, userFolder() + QStringLiteral("english")));
    writeFile(userFolder() + QStringLiteral("tavelo.xml"),
        "<!DOCTYPE list>\n<root><project Name=\"TAVELO English Version\" Folder=\"english\"><part Url=\"http://"
            + m_apache.host().toUtf8() + "/tavelo/english/tavelo.avx\" version=\"0\"/></project></root>\n");
    auto installer = install(true);
    QVERIFY(!installer->courseInstalled());
    QCOMPARE(relativeFiles(elsewhere), QStringList { QStringLiteral("thesis.txt") });
}

void tst_Installation::failedUpdateKeepsOldFile()
{
    const QString course = userFolder() + QStringLiteral("english/");
    install(true);
    const QByteArray oldPicture = readFile(course + QStringLiteral("pictures/common.png"));
    QVERIFY(!oldPicture.isEmpty());
    const QByteArray local = readFile(userFolder() + QStringLiteral("tavelo.xml"));
    newRequests();

    // The server now sends an empty body for the picture; the shared part has a new version.
    writeFile(serverFile(QStringLiteral("shared/pictures/common.png")), QByteArray());
    editServerCatalogue(QStringLiteral("common.avx\" version=\"1\""), QStringLiteral("common.avx\" version=\"2\""));
    LogCapture log;
    auto installer = install(true);
    QVERIFY(installer->downloadError());
    QCOMPARE(m_warnings,
        QStringList { QStringLiteral("Error downloading file: ") + course + QStringLiteral("pictures/common.png") });
    QCOMPARE(readFile(course + QStringLiteral("pictures/common.png")), oldPicture);
    // The files after the failure are skipped, and the course is not recorded as installed.
    QCOMPARE(log.count(QStringLiteral("Donwload error = true")), 1);
    QVERIFY(!newRequests().contains(QStringLiteral("/tavelo/shared/sounds/shared.mp3 200")));
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), local);
}

QTEST_MAIN(tst_Installation)
#include "tst_installation.moc"

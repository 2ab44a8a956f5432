// SPDX-License-Identifier: GPL-3.0-or-later
// Course installation from a real Apache on loopback: the first and the unchanged second start
// of the player (in this process and as the built program), raised versions, offline starts,
// hostile catalogues and documents; and from the in-process fault server: updates that fail
// half-way, a course server that is down. Every case has its own documents folder and a fresh
// server tree.
#include "apacheserver.h"
#include "courseinstaller.h"
#include "deepxml.h"
#include "deployment.h"
#include "fakehttpserver.h"
#include "kestapplication.h"
#include "kestora.h"
#include "kestprogress.h"
#include "kestthread.h"
#include "logcapture.h"
#include "playerprocess.h"
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

Q_DECLARE_METATYPE(FakeHttpServer::Fault)

namespace {

const QString ServerData = QStringLiteral(KEST_TEST_DATA_DIR "/installation/server");
const QString English = QStringLiteral("TAVELO English Version");

// The server's tree from a tree under tests/data/, whose catalogue addresses ("@HOST@") name the
// test's own server; what an earlier case left there goes first.
bool copyServerTree(const QString &from, const QString &to, const QString &host)
{
    QDir(to + QStringLiteral("/tavelo")).removeRecursively();
    return copyTree(from, to, [&host](QByteArray content) { return content.replace("@HOST@", host.toUtf8()); });
}

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
    void firstAndSecondStart_data();
    void firstAndSecondStart();
    void raisedVersion_data();
    void raisedVersion();
    void offlineWithLocalCatalogue();
    void catalogueFailure();
    void unreadableServerCatalogue_data();
    void unreadableServerCatalogue();
    void courseListedTwice();
    void hostileCatalogue_data();
    void hostileCatalogue();
    void hostileNamesInCourseFiles();
    void linkedCourseFolderIsNotEmptied();
    void failedUpdateKeepsCourse_data();
    void failedUpdateKeepsCourse();
    void courseServerDownStartsOffline_data();
    void courseServerDownStartsOffline();
    void catalogueWriteFails();
    void diskFullDuringUpdate();
    void interruptedSwapIsUndone();

private:
    QString userFolder() const { return m_home->path() + QStringLiteral("/Documents/Tavelo/"); }
    QString serverFile(const QString &name) const { return m_serverRoot.path() + QStringLiteral("/tavelo/") + name; }
    // Copies the server tree, with this server's address in its catalogue.
    void resetServer();
    void editServerCatalogue(const QString &from, const QString &to);
    QStringList newRequests();
    // One start's catalogue phase and installation of title, without the window.
    std::unique_ptr<CourseInstaller> install(
        bool online, const QString &title = English, const QString &host = QString());
    // A window's start against the deployment's server, with the course remembered.
    std::unique_ptr<Kestora> startWindow();
    void setCourseServer(const QString &host);
    QString englishEntry(const QByteArray &catalogue, int *count = nullptr) const;

    QTemporaryDir m_serverRoot; // outlives the server that serves it
    ApacheServer m_apache;
    FakeHttpServer m_other; // another server, which must never be asked
    QTemporaryDir m_bin;
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
    setCourseServer(m_apache.host());
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

void tst_Installation::setCourseServer(const QString &host)
{
    kestDeployment deployment = kestDeployment::defaults();
    deployment.courseServerHost = host;
    deployment.catalogueUser = QStringLiteral("kestor");
    deployment.cataloguePassword = QStringLiteral("lesson");
    deployment.probeUrl = QStringLiteral("http://") + m_apache.host() + QLatin1Char('/');
    kestDeployment::setCurrent(deployment);
}

void tst_Installation::init()
{
    setCourseServer(m_apache.host());
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

std::unique_ptr<CourseInstaller> tst_Installation::install(bool online, const QString &title, const QString &host)
{
    auto installer = std::make_unique<CourseInstaller>(
        userFolder(), host.isEmpty() ? m_apache.host() : host, QStringLiteral("kestor:lesson"));
    // Short for the stalling rows, yet long enough that a sanitizer build on a busy machine does not
    // take a slow but moving file for a stalled one.
    installer->setStallTimeout(2000);
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
            // Attributes sorted: their order in a serialised DOM differs from process to process.
            QStringList lines;
            for (QDomElement part = e; !part.isNull();
                 part = part == e ? e.firstChildElement() : part.nextSiblingElement()) {
                QStringList attributes;
                const QDomNamedNodeMap map = part.attributes();
                for (int i = 0; i < map.count(); ++i)
                    attributes << map.item(i).nodeName() + QStringLiteral("=\"") + map.item(i).nodeValue()
                            + QLatin1Char('"');
                attributes.sort();
                lines << part.tagName() + QLatin1Char(' ') + attributes.join(QLatin1Char(' '));
            }
            last = lines.join(QLatin1Char('\n'));
        }
    }
    if (count)
        *count = found;
    return last;
}

std::unique_ptr<Kestora> tst_Installation::startWindow()
{
    const QString course = userFolder() + QStringLiteral("english/");
    QSettings settings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("User/defaultLoadCourse"), English);
    settings.setValue(QStringLiteral("User/defaultLoadCoursePath"), course + QStringLiteral("tavelo.avx"));
    settings.remove(QStringLiteral("Course"));
    settings.sync();
    return std::make_unique<Kestora>(qApp);
}

void tst_Installation::firstAndSecondStart_data()
{
    QTest::addColumn<bool>("separateProcess");
    QTest::newRow("the window in this process") << false;
    QTest::newRow("the built player") << true;
}

// A fresh user folder and a remembered course: no dialog, the course comes from the server and
// runs; at the second start, nothing changed on the server, only the probe and the catalogue
// are asked for and the course runs again.
void tst_Installation::firstAndSecondStart()
{
    QFETCH(bool, separateProcess);
    const QString course = userFolder() + QStringLiteral("english/");
    const QString player = separateProcess
        ? PlayerProcess::install(m_bin.filePath(QStringLiteral("player")), m_apache.host(), m_apache.host())
        : QString();
    PlayerProcess process;
    std::unique_ptr<Kestora> window;
    const auto courseStarted = [this] {
        return QSettings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat)
            .value(QStringLiteral("Course/Started"))
            .toString();
    };
    const auto start = [&] {
        if (separateProcess) {
            QSettings settings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat);
            settings.setValue(QStringLiteral("User/defaultLoadCourse"), English);
            settings.setValue(QStringLiteral("User/defaultLoadCoursePath"), course + QStringLiteral("tavelo.avx"));
            settings.remove(QStringLiteral("Course"));
            settings.sync();
            QVERIFY(process.start(player, m_home->path()));
        } else {
            window = startWindow();
        }
        QTRY_COMPARE_WITH_TIMEOUT(courseStarted(), QStringLiteral("yes"), 60000);
    };
    const auto stop = [&] {
        if (separateProcess) {
            process.stop();
        } else {
            QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
            window.reset();
        }
    };

    start();
    QCOMPARE(m_warnings, QStringList());
    QCOMPARE(relativeFiles(course), CourseFiles);
    QCOMPARE(readFile(course + QStringLiteral("lists/words.lst")),
        readFile(serverFile(QStringLiteral("english/lists/words.lst"))));
    QCOMPARE(readFile(course + QStringLiteral("sounds/word2.mp3")),
        readFile(serverFile(QStringLiteral("english/sounds/word2.mp3"))));
    QVERIFY(!QFile::exists(userFolder() + QStringLiteral("temp_tavelo.xml")));
    if (window) {
        QVERIFY(window->isOnline());
        // The part marked "True" is the main document; "true" is not.
        QCOMPARE(window->mainProjectFile(), course + QStringLiteral("tavelo.avx"));
        QCOMPARE(window->courseFolder(), course);
        QCOMPARE(kestVariables::variableValue(QStringLiteral("USERPATH")), course);
        QVERIFY(!window->progressWindow()->isVisible());
        QVERIFY(window->progressWindow()->overallBar()->value() >= 99);
        QVERIFY(window->progressWindow()->overallBar()->accessibleName().endsWith(QLatin1String(" Percent.")));
    }

    const QStringList requests = newRequests();
    QCOMPARE(requests.count(QStringLiteral("/tavelo/tavelo.xml 200")), 1);
    QCOMPARE(requests.filter(QStringLiteral(" 404")), QStringList { QStringLiteral("/ 404") }); // only the probe
    QVERIFY(!requests.contains(QStringLiteral("/tavelo/english/USERPATH/mine.png 200")));

    // The local catalogue: UTF-8 with its declaration, document type "list", root "root", one
    // copy of the course's entry.
    const QByteArray local = readFile(userFolder() + QStringLiteral("tavelo.xml"));
    QVERIFY2(local.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE list>\n<root>\n <project"),
        local.left(200).constData());
    int entries = 0;
    const QString entry = englishEntry(local, &entries);
    QCOMPARE(entries, 1);
    QCOMPARE(entry, englishEntry(readFile(serverFile(QStringLiteral("tavelo.xml")))));
    QVERIFY(!local.contains("German"));
    stop();

    const auto before = snapshot(course);
    start();
    QCOMPARE(newRequests(), QStringList({ QStringLiteral("/ 404"), QStringLiteral("/tavelo/tavelo.xml 200") }));
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), local);
    stop();
    QCOMPARE(snapshot(course).keys(), before.keys());
    QCOMPARE(m_warnings, QStringList());
}

void tst_Installation::raisedVersion_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("afresh");
    QTest::addColumn<QStringList>("fetched");
    // The address has the course's Folder as a segment: the course is installed afresh.
    QTest::newRow("with the Folder segment") << QStringLiteral("english/extra.avx") << true << QStringList();
    // Otherwise only that part and what it names is fetched. Either way the course keeps one entry.
    QTest::newRow("without the Folder segment")
        << QStringLiteral("shared/common.avx") << false
        << QStringList { QStringLiteral("/tavelo/tavelo.xml 200"), QStringLiteral("/tavelo/shared/common.avx 200"),
               QStringLiteral("/tavelo/shared/variables_win.txt 200"),
               QStringLiteral("/tavelo/shared/pictures/common.png 200"),
               QStringLiteral("/tavelo/shared/sounds/shared.mp3 200") };
}

void tst_Installation::raisedVersion()
{
    QFETCH(QString, part);
    QFETCH(bool, afresh);
    const QString course = userFolder() + QStringLiteral("english/");
    install(true);
    QCOMPARE(relativeFiles(course), CourseFiles);
    writeFile(course + QStringLiteral("notes/mine.txt"), "a file of the learner's own");
    // A file the old course had and the new one has not is the installer's, not the learner's.
    QFile recordFile(userFolder() + QStringLiteral(".english.installed"));
    QVERIFY(recordFile.open(QIODevice::Append));
    recordFile.write("sounds/gone.mp3\n");
    recordFile.close();
    writeFile(course + QStringLiteral("sounds/gone.mp3"), "old");
    newRequests();

    editServerCatalogue(part + QStringLiteral("\" version=\"1\""), part + QStringLiteral("\" version=\"2\""));
    auto installer = install(true);
    // The German course, never installed here, is new on every start; of the English parts only the raised one.
    QCOMPARE(installer->downloadList(),
        QStringList({ QStringLiteral("http://") + m_apache.host() + QStringLiteral("/tavelo/") + part,
            QStringLiteral("http://") + m_apache.host() + QStringLiteral("/tavelo/german/tavelo.avx") }));
    // The learner's file survives the update, whichever way it went.
    QCOMPARE(readFile(course + QStringLiteral("notes/mine.txt")), QByteArray("a file of the learner's own"));
    const QStringList requests = newRequests();
    QStringList expectedFiles = CourseFiles;
    expectedFiles << QStringLiteral("notes/mine.txt");
    if (afresh) {
        // Every part was fetched again, and the old course's own files are gone.
        for (const QString &name : { QStringLiteral("shared/common.avx"), QStringLiteral("english/tavelo.avx"),
                 QStringLiteral("english/extra.avx") })
            QVERIFY2(requests.contains(QStringLiteral("/tavelo/") + name + QStringLiteral(" 200")), qPrintable(name));
    } else {
        QFETCH(QStringList, fetched);
        QCOMPARE(sorted(requests), sorted(fetched)); // several at once: any order
        expectedFiles << QStringLiteral("sounds/gone.mp3");
    }
    QCOMPARE(relativeFiles(course), sorted(expectedFiles));
    int entries = 0;
    const QString entry = englishEntry(readFile(userFolder() + QStringLiteral("tavelo.xml")), &entries);
    QCOMPARE(entries, 1);
    QCOMPARE(entry.count(QStringLiteral("version=\"2\"")), 1);
    QCOMPARE(m_warnings, QStringList());
    QCOMPARE(QDir(userFolder()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList { QStringLiteral("english") });
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
    // The window says what happens next (see courseServerDownStartsOffline).
    QCOMPARE(m_warnings, QStringList());
    QVERIFY(!QFile::exists(userFolder() + QStringLiteral("tavelo.xml")));
    QVERIFY(!QFile::exists(userFolder() + QStringLiteral("temp_tavelo.xml")));
}

void tst_Installation::unreadableServerCatalogue_data()
{
    QTest::addColumn<QByteArray>("catalogue");
    for (const auto &document : deepUnreadableDocuments(
             "<project Name=\"TAVELO English Version\" Folder=\"english\"><part Url=\"x\"/></project>"))
        QTest::newRow(document.first) << document.second;
}

// A server catalogue the depth scan cannot read is refused, never handed to the DOM parser.
void tst_Installation::unreadableServerCatalogue()
{
    QFETCH(QByteArray, catalogue);
    writeFile(serverFile(QStringLiteral("tavelo.xml")), catalogue);
    CourseInstaller installer(userFolder(), m_apache.host(), QStringLiteral("kestor:lesson"));
    QVERIFY(!installer.readCatalogues(true));
    QCOMPARE(installer.offeredTitles(), QStringList());
    QVERIFY(!QFile::exists(userFolder() + QStringLiteral("temp_tavelo.xml")));
}

// A course listed twice is one course: the first entry counts, it is not updated at every start,
// and the local catalogue keeps one entry.
void tst_Installation::courseListedTwice()
{
    QString catalogue = QString::fromUtf8(readFile(serverFile(QStringLiteral("tavelo.xml"))));
    const int start = catalogue.indexOf(QStringLiteral("<project Name=\"TAVELO English Version\""));
    const int end = catalogue.indexOf(QStringLiteral("</project>"), start) + 10;
    QVERIFY(start >= 0 && end > start);
    const QString older
        = catalogue.mid(start, end - start).replace(QStringLiteral("version=\"1\""), QStringLiteral("version=\"0\""));
    writeFile(serverFile(QStringLiteral("tavelo.xml")), catalogue.insert(end, older).toUtf8());
    install(true);
    const QByteArray local = readFile(userFolder() + QStringLiteral("tavelo.xml"));
    int entries = 0;
    QVERIFY(!englishEntry(local, &entries).contains(QStringLiteral("version=\"0\"")));
    QCOMPARE(entries, 1);
    newRequests();

    auto installer = install(true);
    QCOMPARE(installer->downloadList(),
        QStringList { QStringLiteral("http://") + m_apache.host() + QStringLiteral("/tavelo/german/tavelo.avx") });
    QVERIFY(!installer->downloadedAny());
    QCOMPARE(newRequests(), QStringList { QStringLiteral("/tavelo/tavelo.xml 200") });
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), local);
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
    // The credentials go to the course server only: other servers and schemes are refused.
    const auto address = [](const char *url) {
        return QStringLiteral("<project Name=\"TAVELO English Version\" Folder=\"english\">"
                              "<part Url=\"%1\" version=\"9\"/></project>")
            .arg(QLatin1String(url));
    };
    QTest::newRow("part on another server") << address("http://@OTHER@/tavelo/english/tavelo.avx") << true;
    QTest::newRow("part as a local file") << address("file:///etc/hostname") << true;
    QTest::newRow("part over ftp") << address("ftp://@HOST@/tavelo/english/tavelo.avx") << true;
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
    project.replace(QStringLiteral("@HOST@"), m_apache.host()).replace(QStringLiteral("@OTHER@"), m_other.host());
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
    QCOMPARE(after, expected);
    QCOMPARE(m_other.requestCount(), 0);
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
                || it.key() == QLatin1String("Documents/Tavelo/.english.installed")
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

void tst_Installation::failedUpdateKeepsCourse_data()
{
    using Fault = FakeHttpServer::Fault;
    QTest::addColumn<QString>("path"); // below /tavelo/
    QTest::addColumn<Fault>("fault");
    QTest::newRow("a sound cut short") << QStringLiteral("english/sounds/a.mp3") << Fault::CutShort;
    QTest::newRow("a picture answered with a 503 page")
        << QStringLiteral("english/pictures/logo.png") << Fault::Unavailable;
    QTest::newRow("a redirect to another server") << QStringLiteral("english/sounds/b.mp3") << Fault::Redirect;
    QTest::newRow("a stall after the headers")
        << QStringLiteral("english/sounds/intro.mp3") << Fault::StallAfterHeaders;
    QTest::newRow("a connection closed mid-body") << QStringLiteral("english/texts/story.txt") << Fault::CloseMidBody;
    QTest::newRow("the part itself") << QStringLiteral("english/extra.avx") << Fault::CutShort;
    QTest::newRow("the variables file") << QStringLiteral("english/variables_win.txt") << Fault::Unavailable;
    QTest::newRow("a list file") << QStringLiteral("english/lists/words.lst") << Fault::CutShort;
}

// Install v1, add a learner file, publish v2 with one file failing: the old course and the
// learner's file stay as they were, nothing is merged, one message; serve v2 whole: v2 is
// installed and the learner's file is still there.
void tst_Installation::failedUpdateKeepsCourse()
{
    QFETCH(QString, path);
    QFETCH(FakeHttpServer::Fault, fault);
    FakeHttpServer server;
    server.serveFolder(m_serverRoot.path());
    QVERIFY(copyServerTree(ServerData, m_serverRoot.path(), server.host()));
    const QString course = userFolder() + QStringLiteral("english/");
    install(true, English, server.host());
    QCOMPARE(relativeFiles(course), CourseFiles);
    writeFile(course + QStringLiteral("notes/mine.txt"), "a file of the learner's own");
    const auto v1 = snapshot(userFolder());

    // v2: a raised version of a part in the course's folder, and new content in every file.
    editServerCatalogue(QStringLiteral("extra.avx\" version=\"1\""), QStringLiteral("extra.avx\" version=\"2\""));
    for (const QString &name : { QStringLiteral("sounds/a.mp3"), QStringLiteral("pictures/logo.png"),
             QStringLiteral("sounds/b.mp3"), QStringLiteral("sounds/intro.mp3") })
        writeFile(serverFile(QStringLiteral("english/") + name), "v2 of " + name.toUtf8());
    server.setFault(
        QStringLiteral("/tavelo/") + path, fault, QStringLiteral("http://") + m_other.host() + QStringLiteral("/x"));
    auto installer = install(true, English, server.host());
    QVERIFY(installer->downloadError());
    QCOMPARE(m_warnings.size(), 1);
    QVERIFY2(m_warnings.first().startsWith(QStringLiteral("Error downloading file: ") + course + path.mid(8)),
        qPrintable(m_warnings.first()));
    QVERIFY(m_warnings.first().contains(QLatin1String("files failed")));
    QCOMPARE(snapshot(userFolder()), v1);
    QCOMPARE(m_other.requestCount(), 0);

    // The next start tries again, and v2 arrives whole; a named file the server does not have
    // (a recording the learner makes, say) is left out.
    m_warnings.clear();
    server.clearFaults();
    QVERIFY(QFile::remove(serverFile(QStringLiteral("english/pictures/star.png"))));
    LogCapture log;
    installer = install(true, English, server.host());
    QVERIFY(!installer->downloadError());
    QCOMPARE(log.startingWith(QStringLiteral("Not on the course server, left out: ")),
        QStringList { QStringLiteral("Not on the course server, left out: pictures/star.png") });
    QVERIFY(!QFile::exists(course + QStringLiteral("pictures/star.png")));
    QCOMPARE(m_warnings, QStringList());
    QCOMPARE(readFile(course + QStringLiteral("sounds/a.mp3")), QByteArray("v2 of sounds/a.mp3"));
    QCOMPARE(readFile(course + QStringLiteral("notes/mine.txt")), QByteArray("a file of the learner's own"));
    int entries = 0;
    QVERIFY(englishEntry(readFile(userFolder() + QStringLiteral("tavelo.xml")), &entries)
                .contains(QStringLiteral("version=\"2\"")));
    QCOMPARE(entries, 1);
}

void tst_Installation::courseServerDownStartsOffline_data()
{
    using Fault = FakeHttpServer::Fault;
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("503 error page") << Fault::Unavailable << QByteArray();
    QTest::newRow("error page answered as a catalogue")
        << Fault::None << QByteArray("<!DOCTYPE HTML>\n<html><head>\n<title>Log in</title></head></html>\n");
    QTest::newRow("closed mid-body") << Fault::CloseMidBody << QByteArray("<!DOCTYPE list>\n<root>\n</root>\n");
}

// The probe answers but the course server does not: the course installed before starts, with one
// notice that does not block the start.
void tst_Installation::courseServerDownStartsOffline()
{
    QFETCH(FakeHttpServer::Fault, fault);
    QFETCH(QByteArray, body);
    install(true);
    const QString course = userFolder() + QStringLiteral("english/");
    const auto before = snapshot(course);
    const QByteArray local = readFile(userFolder() + QStringLiteral("tavelo.xml"));
    FakeHttpServer server(body);
    server.setFault(QStringLiteral("*"), fault);
    setCourseServer(server.host());

    auto window = startWindow();
    QVERIFY(!window->isOnline());
    QCOMPARE(window->mainProjectFile(), course + QStringLiteral("tavelo.avx"));
    QTRY_COMPARE(QSettings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat)
                     .value(QStringLiteral("Course/Started"))
                     .toString(),
        QStringLiteral("yes"));
    QTRY_COMPARE(m_warnings.size(), 1);
    QVERIFY2(
        m_warnings.first().contains(QLatin1String("course server cannot be reached")), qPrintable(m_warnings.first()));
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), local);
    // Only the catalogue was asked for (the network layer may ask again once after a cut).
    QVERIFY(!server.paths().isEmpty());
    QCOMPARE(server.paths().filter(QStringLiteral("/tavelo/tavelo.xml")), server.paths());
    QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
    window.reset();
    QCOMPARE(snapshot(course), before);
}

// The course arrived but the local catalogue cannot be written: the learner is told, and the
// next start examines the course again.
void tst_Installation::catalogueWriteFails()
{
    QDir().mkpath(userFolder() + QStringLiteral("tavelo.xml")); // a folder where the file should be
    auto installer = install(true);
    QVERIFY(installer->downloadedAny());
    QCOMPARE(relativeFiles(userFolder() + QStringLiteral("english/")), CourseFiles);
    QCOMPARE(m_warnings.size(), 1);
    QVERIFY2(m_warnings.first().startsWith(QStringLiteral("Cannot write the course catalogue ")),
        qPrintable(m_warnings.first()));
    QVERIFY(QFileInfo(userFolder() + QStringLiteral("tavelo.xml")).isDir());
}

// The disk fills while a file of an update is written (the built player, its files limited to
// 1 MiB, see PlayerProcess): the learner is told, the course with the learner's file and the
// catalogue stay as they were, and nothing half-written is left.
void tst_Installation::diskFullDuringUpdate()
{
    const QString course = userFolder() + QStringLiteral("english/");
    install(true);
    writeFile(course + QStringLiteral("notes/mine.txt"), "a file of the learner's own");
    const auto before = snapshot(course);
    const QByteArray catalogue = readFile(userFolder() + QStringLiteral("tavelo.xml"));
    editServerCatalogue(QStringLiteral("extra.avx\" version=\"1\""), QStringLiteral("extra.avx\" version=\"2\""));
    writeFile(serverFile(QStringLiteral("english/sounds/a.mp3")), QByteArray(2 << 20, 'v'));
    QSettings settings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("User/defaultLoadCourse"), English);
    settings.setValue(QStringLiteral("User/defaultLoadCoursePath"), course + QStringLiteral("tavelo.avx"));
    settings.sync();

    const QString player
        = PlayerProcess::install(m_bin.filePath(QStringLiteral("player")), m_apache.host(), m_apache.host());
    PlayerProcess process;
    process.setFileSizeLimit(1 << 20);
    QVERIFY(process.start(player, m_home->path()));
    QString output;
    const QString told
        = QStringLiteral("Warning ausgabe: Error downloading file: ") + course + QStringLiteral("sounds/a.mp3");
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     output += process.output();
                     return output.contains(told) || process.process()->state() == QProcess::NotRunning;
                 },
                 60000),
        qPrintable(output));
    QVERIFY2(output.contains(told), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("Download of ") + userFolder()
                 + QStringLiteral(".english.staging/sounds/a.mp3 failed: cannot write")),
        qPrintable(output));
    process.stop();
    QCOMPARE(snapshot(course), before);
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), catalogue);
    QCOMPARE(QDir(userFolder())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                 .filter(QStringLiteral(".english")),
        QStringList { QStringLiteral(".english.installed") });
}

// The player ended after the old course folder was moved aside and before the new one took its
// place: the next start puts the old one back, with the learner's file, and fetches nothing.
void tst_Installation::interruptedSwapIsUndone()
{
    const QString course = userFolder() + QStringLiteral("english/");
    install(true);
    writeFile(course + QStringLiteral("notes/mine.txt"), "a file of the learner's own");
    QVERIFY(QDir().rename(course, userFolder() + QStringLiteral(".english.old")));
    newRequests();
    install(true);
    QCOMPARE(readFile(course + QStringLiteral("notes/mine.txt")), QByteArray("a file of the learner's own"));
    QCOMPARE(newRequests(), QStringList { QStringLiteral("/tavelo/tavelo.xml 200") });
    QVERIFY(!QFileInfo::exists(userFolder() + QStringLiteral(".english.old")));
}

QTEST_MAIN(tst_Installation)
#include "tst_installation.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The built player as a new user meets it: a copy of the kestora executable with a kestora.ini
// beside it that points at a local course server, a fresh documents folder with a remembered
// course, and nothing else changed.
#include "apacheserver.h"
#include "servertree.h"
#include "testfiles.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString ServerData = QStringLiteral(KEST_TEST_DATA_DIR "/installation/server");

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

} // namespace

class tst_NewUser : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void courseArrivesAndRuns();
    void silentCatalogueServerEndsTheStart();

private:
    // A copy of the player in its own folder, with a kestora.ini naming host as course server.
    QString installPlayer(const QString &host);
    void startPlayer(const QString &player);
    QString userFolder() const { return m_home->path() + QStringLiteral("/Documents/Tavelo/"); }
    QString courseStarted() const
    {
        return QSettings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat)
            .value(QStringLiteral("Course/Started"))
            .toString();
    }
    QStringList newRequests();

    QTemporaryDir m_serverRoot;
    ApacheServer m_apache;
    QTemporaryDir m_bin;
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QProcess> m_player;
    int m_requestsSeen = 0;
};

void tst_NewUser::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(KEST_PLAYER_EXE)));
    QVERIFY(m_serverRoot.isValid() && m_bin.isValid());
    QVERIFY2(m_apache.start(m_serverRoot.path(), QStringLiteral("kestor"), QStringLiteral("lesson")),
        qPrintable(m_apache.errorLog()));
    QVERIFY(copyServerTree(ServerData, m_serverRoot.path(), m_apache.host()));
}

void tst_NewUser::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

void tst_NewUser::cleanup()
{
    if (m_player && m_player->state() != QProcess::NotRunning) {
        m_player->kill();
        m_player->waitForFinished(5000);
    }
    if (QTest::currentTestFailed() && m_player)
        qWarning().noquote() << "The player's output:\n" << QString::fromLocal8Bit(m_player->readAll()).right(4000);
    m_player.reset();
}

QString tst_NewUser::installPlayer(const QString &host)
{
    const QString folder = m_bin.path() + QLatin1Char('/') + QString::fromLatin1(QTest::currentTestFunction());
    QDir().mkpath(folder);
    const QString player = folder + QStringLiteral("/kestora");
    QFile::remove(player);
    if (!QFile::copy(QStringLiteral(KEST_PLAYER_EXE), player))
        return QString();
    writeFile(folder + QStringLiteral("/kestora.ini"),
        "[Deployment]\nCourseServerHost=" + host.toUtf8()
            + "\nCatalogueUser=kestor\nCataloguePassword=lesson\nProbeUrl=http://" + m_apache.host().toUtf8() + "/\n");
    return player;
}

void tst_NewUser::startPlayer(const QString &player)
{
    m_player = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home->path());
    for (const char *name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_DOCUMENTS_DIR" })
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("kestora.*.debug=true"));
    m_player->setProcessEnvironment(environment);
    m_player->setProcessChannelMode(QProcess::MergedChannels);
    m_player->start(player, QStringList());
    QVERIFY(m_player->waitForStarted());
}

QStringList tst_NewUser::newRequests()
{
    const QStringList all = m_apache.requests();
    QStringList fresh;
    for (const QString &line : all.mid(m_requestsSeen))
        fresh << line.section(QLatin1Char(' '), 1, 1) + QLatin1Char(' ') + line.section(QLatin1Char(' '), 3, 3);
    m_requestsSeen = all.size();
    return fresh;
}

void tst_NewUser::courseArrivesAndRuns()
{
    const QString player = installPlayer(m_apache.host());
    QVERIFY(!player.isEmpty());
    const QString course = userFolder() + QStringLiteral("english/");
    writeFile(userFolder() + QStringLiteral("Tavelo.ini"),
        "[User]\ndefaultLoadCourse=TAVELO English Version\ndefaultLoadCoursePath=" + QFile::encodeName(course)
            + "tavelo.avx\n");
    newRequests();

    // First start: the course arrives with every file its documents and variables file name,
    // and its first scene runs (its main script writes to the settings file).
    startPlayer(player);
    QTRY_COMPARE_WITH_TIMEOUT(courseStarted(), QStringLiteral("yes"), 60000);
    QCOMPARE(filesBelow(course),
        QStringList({ QStringLiteral("common.avx"), QStringLiteral("extra.avx"), QStringLiteral("lists/words.lst"),
            QStringLiteral("pictures/back.jpg"), QStringLiteral("pictures/common.png"),
            QStringLiteral("pictures/logo.png"), QStringLiteral("pictures/star.png"), QStringLiteral("sounds/a.mp3"),
            QStringLiteral("sounds/b.mp3"), QStringLiteral("sounds/intro.mp3"), QStringLiteral("sounds/shared.mp3"),
            QStringLiteral("sounds/word1.mp3"), QStringLiteral("sounds/word2.mp3"), QStringLiteral("tavelo.avx"),
            QStringLiteral("texts/story.txt"), QStringLiteral("variables_win.txt") }));
    QCOMPARE(readFile(course + QStringLiteral("sounds/word2.mp3")),
        readFile(m_serverRoot.path() + QStringLiteral("/tavelo/english/sounds/word2.mp3")));
    QVERIFY(readFile(userFolder() + QStringLiteral("tavelo.xml")).startsWith("<!DOCTYPE list>\n<root>\n <project"));
    const QStringList first = newRequests();
    QCOMPARE(first.filter(QStringLiteral(" 200")).size(), first.size() - 1); // all but the probe
    m_player->kill();
    QVERIFY(m_player->waitForFinished(10000));

    // Second start: only the probe and the catalogue are asked for, and the course runs again.
    QSettings(userFolder() + QStringLiteral("Tavelo.ini"), QSettings::IniFormat).remove(QStringLiteral("Course"));
    const QByteArray catalogue = readFile(userFolder() + QStringLiteral("tavelo.xml"));
    startPlayer(player);
    QTRY_COMPARE_WITH_TIMEOUT(courseStarted(), QStringLiteral("yes"), 60000);
    QCOMPARE(newRequests(), QStringList({ QStringLiteral("/ 404"), QStringLiteral("/tavelo/tavelo.xml 200") }));
    QCOMPARE(readFile(userFolder() + QStringLiteral("tavelo.xml")), catalogue);
    QVERIFY(!QFile::exists(userFolder() + QStringLiteral("temp_tavelo.xml")));
}

void tst_NewUser::silentCatalogueServerEndsTheStart()
{
    // The catalogue server accepts and never answers: the watchdog ends the wait without a
    // catalogue, and a start without a catalogue ends with status 1.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    const QString player = installPlayer(QStringLiteral("127.0.0.1:") + QString::number(silent.serverPort()));
    QVERIFY(!player.isEmpty());
    startPlayer(player);
    QVERIFY(m_player->waitForFinished(30000));
    QCOMPARE(m_player->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_player->exitCode(), 1);
    QVERIFY(!QFile::exists(userFolder() + QStringLiteral("tavelo.xml")));
}

QTEST_GUILESS_MAIN(tst_NewUser)
#include "tst_newuser.moc"

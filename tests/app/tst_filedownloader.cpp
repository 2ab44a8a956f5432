// SPDX-License-Identifier: GPL-3.0-or-later
// The downloader against a real Apache with basic authentication, and against in-process peers
// for the faults: a silent server, an empty body, an unreachable port, an unwritable target.
#include "apacheserver.h"
#include "fakehttpserver.h"
#include "filedownloader.h"
#include "testfiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString ServerRoot = QStringLiteral(KEST_TEST_DATA_DIR "/downloader");

// What one download did: the signals in order and when each downloaded() came.
struct Outcome
{
    QStringList errors;
    QStringList ausgaben;
    QList<qint64> downloadedAt;
};

// Runs one download until the reply has finished (or 10 s passed), recording its signals.
Outcome runDownload(FileDownloader &downloader, const QString &url)
{
    Outcome outcome;
    QElapsedTimer clock;
    QObject::connect(&downloader, &FileDownloader::error, [&](const QString &text) { outcome.errors << text; });
    QObject::connect(&downloader, &FileDownloader::ausgabe, [&](const QString &text) { outcome.ausgaben << text; });
    QObject::connect(&downloader, &FileDownloader::downloaded, [&] { outcome.downloadedAt << clock.elapsed(); });
    clock.start();
    downloader.download(QUrl(url));
    (void)QTest::qWaitFor([&] { return downloader.isFinished(); }, 10000);
    return outcome;
}

} // namespace

class tst_FileDownloader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fromCourseServer_data();
    void fromCourseServer();
    void failedFetchKeepsOldFile();
    void probe_data();
    void probe();
    void watchdog_data();
    void watchdog();
    void failures_data();
    void failures();
    void unwritableTarget();
    void deletedDownloaderWritesNothing();

private:
    QString authUrl(const QString &path) const
    {
        return QStringLiteral("http://kestor:lesson@") + m_apache.host() + path;
    }

    ApacheServer m_apache;
    QTemporaryDir m_target;
};

void tst_FileDownloader::initTestCase()
{
    QVERIFY(m_target.isValid());
    QVERIFY2(m_apache.start(ServerRoot, QStringLiteral("kestor"), QStringLiteral("lesson")),
        qPrintable(m_apache.errorLog()));
}

void tst_FileDownloader::fromCourseServer_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("credentials");
    QTest::addColumn<QByteArray>("expected"); // the whole file, or its start when it ends in "..."
    const QString good = QStringLiteral("kestor:lesson");
    QTest::newRow("text file") << QStringLiteral("/tavelo/hello.txt") << good
                               << readFile(ServerRoot + QStringLiteral("/tavelo/hello.txt"));
    QTest::newRow("binary file") << QStringLiteral("/tavelo/media/noise.bin") << good
                                 << readFile(ServerRoot + QStringLiteral("/tavelo/media/noise.bin"));
    // Error pages with content count as downloads; the player recognises them where it reads them.
    QTest::newRow("missing file: the error page")
        << QStringLiteral("/tavelo/missing.mp3") << good << QByteArray("<!DOCTYPE HTML PUBLIC...");
    QTest::newRow("wrong password: the error page")
        << QStringLiteral("/tavelo/hello.txt") << QStringLiteral("kestor:wrong1")
        << QByteArray("<!DOCTYPE HTML PUBLIC...");
}

void tst_FileDownloader::fromCourseServer()
{
    QFETCH(QString, path);
    QFETCH(QString, credentials);
    QFETCH(QByteArray, expected);
    const QString target
        = m_target.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    FileDownloader downloader(target);
    const Outcome outcome
        = runDownload(downloader, QStringLiteral("http://") + credentials + QLatin1Char('@') + m_apache.host() + path);
    QVERIFY(downloader.isFinished());
    QVERIFY(!downloader.hasError());
    QCOMPARE(outcome.errors, QStringList());
    QCOMPARE(outcome.downloadedAt.size(), 1);
    const QByteArray written = readFile(target);
    if (expected.endsWith("...")) {
        QVERIFY(written.startsWith(expected.chopped(3)));
        // The third line is what the player's checks look for in a stored error page.
        QVERIFY(written.split('\n').value(2).startsWith("<title>4"));
    } else {
        QCOMPARE(written, expected);
    }
}

void tst_FileDownloader::failedFetchKeepsOldFile()
{
    // An empty body is a failure: the file that was there stays as it was.
    const QString target = m_target.filePath(QStringLiteral("keep.txt"));
    writeFile(target, "the old file that worked");
    {
        FileDownloader downloader(target);
        const Outcome outcome = runDownload(downloader, authUrl(QStringLiteral("/tavelo/empty.txt")));
        QCOMPARE(outcome.errors, QStringList { QStringLiteral("Error downloading file: ") + target });
        QCOMPARE(outcome.downloadedAt.size(), 1);
        QVERIFY(downloader.hasError());
    }
    QCOMPARE(readFile(target), QByteArray("the old file that worked"));
    QCOMPARE(QDir(m_target.path()).entryList({ QStringLiteral("keep.txt*") }, QDir::Files | QDir::Hidden),
        QStringList { QStringLiteral("keep.txt") });

    // A body that arrives replaces it.
    FileDownloader downloader(target);
    runDownload(downloader, authUrl(QStringLiteral("/tavelo/hello.txt")));
    QCOMPARE(readFile(target), readFile(ServerRoot + QStringLiteral("/tavelo/hello.txt")));
}

void tst_FileDownloader::probe_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("connected");
    QTest::newRow("body is success") << QStringLiteral("/tavelo/success.txt") << true;
    QTest::newRow("any other body") << QStringLiteral("/tavelo/nosuccess.txt") << false;
    QTest::newRow("error page") << QStringLiteral("/tavelo/none.txt") << false;
}

void tst_FileDownloader::probe()
{
    QFETCH(QString, path);
    FileDownloader downloader { QString() };
    const Outcome outcome = runDownload(downloader, authUrl(path));
    QVERIFY(downloader.isFinished());
    QTEST(downloader.isConnectedFlag(), "connected");
    QCOMPARE(outcome.downloadedAt.size(), 1);
}

void tst_FileDownloader::watchdog_data()
{
    QTest::addColumn<bool>("trickle");
    QTest::addColumn<int>("watchdogSignals");
    // Silent for 5 s: the watchdog ends a wait at about 2 s and again at about 4 s.
    QTest::newRow("silent server") << false << 2;
    // Data has begun to arrive: the watchdog stays quiet until the reply finishes.
    QTest::newRow("half the body at once, the rest after 5 s") << true << 0;
}

void tst_FileDownloader::watchdog()
{
    QFETCH(bool, trickle);
    QFETCH(int, watchdogSignals);
    const QByteArray body = QByteArray("arrives late but whole ").repeated(2000);
    FakeHttpServer server(body, 5000, trickle);
    const QString target = m_target.filePath(QStringLiteral("late%1.txt").arg(trickle));
    FileDownloader downloader(target);
    const Outcome outcome = runDownload(downloader, server.url());

    QVERIFY(downloader.isFinished());
    QCOMPARE(outcome.downloadedAt.size(), watchdogSignals + 1);
    for (int i = 0; i < watchdogSignals; ++i) {
        const qint64 expected = FileDownloader::WatchdogMs * (i + 1);
        QVERIFY2(outcome.downloadedAt[i] >= expected - 100 && outcome.downloadedAt[i] < expected + 900,
            qPrintable(QString::number(outcome.downloadedAt[i])));
    }
    QVERIFY(outcome.downloadedAt.last() >= 4900);
    // The request went on behind the watchdog and its file was written.
    QCOMPARE(readFile(target), body);
    QCOMPARE(outcome.errors, QStringList());

    // Once finished, the watchdog is not armed again.
    QTest::qWait(2500);
    QCOMPARE(outcome.downloadedAt.size(), watchdogSignals + 1);
}

void tst_FileDownloader::failures_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("empty body") << 0;
    QTest::newRow("nothing listens") << 1;
}

void tst_FileDownloader::failures()
{
    QFETCH(int, kind);
    FakeHttpServer server { QByteArray() };
    const QString url
        = kind == 0 ? server.url() : QStringLiteral("http://127.0.0.1:%1/file").arg(ApacheServer::freePort());
    const QString target = m_target.filePath(QStringLiteral("failed%1.bin").arg(kind));
    FileDownloader downloader(target);
    const Outcome outcome = runDownload(downloader, url);
    QVERIFY(downloader.isFinished());
    QVERIFY(downloader.hasError());
    QCOMPARE(outcome.errors, QStringList { QStringLiteral("Error downloading file: ") + target });
    QCOMPARE(outcome.ausgaben, QStringList());
    QCOMPARE(outcome.downloadedAt.size(), 1);
    QVERIFY(!QFile::exists(target));
}

void tst_FileDownloader::unwritableTarget()
{
    // Below a plain file no file can be made, whoever runs the test.
    const QString blocker = m_target.filePath(QStringLiteral("plainfile"));
    writeFile(blocker, "x");
    const QString target = blocker + QStringLiteral("/hello.txt");
    FileDownloader downloader(target);
    const Outcome outcome = runDownload(downloader, authUrl(QStringLiteral("/tavelo/hello.txt")));
    QVERIFY(downloader.hasError());
    QCOMPARE(outcome.ausgaben, QStringList { QStringLiteral("Read Impossible to open the file ") + target });
    QCOMPARE(outcome.errors, QStringList());
    QCOMPARE(outcome.downloadedAt.size(), 1);
    QCOMPARE(downloader.downloadedData(), readFile(ServerRoot + QStringLiteral("/tavelo/hello.txt")));
}

void tst_FileDownloader::deletedDownloaderWritesNothing()
{
    // The installer deletes a course file's downloader when its wait ends: the request goes too.
    FakeHttpServer server(QByteArray("too late"), 1000);
    const QString target = m_target.filePath(QStringLiteral("abandoned.txt"));
    auto downloader = std::make_unique<FileDownloader>(target);
    downloader->download(QUrl(server.url()));
    QTRY_COMPARE(server.requestCount(), 1);
    downloader.reset();
    QTest::qWait(2000);
    QVERIFY(!QFile::exists(target));
    QCOMPARE(server.abandonedCount(), 1);

    // The next downloader still gets its file.
    FakeHttpServer next(QByteArray("in time"));
    FileDownloader again(target);
    runDownload(again, next.url());
    QCOMPARE(readFile(target), QByteArray("in time"));
}

QTEST_GUILESS_MAIN(tst_FileDownloader)
#include "tst_filedownloader.moc"

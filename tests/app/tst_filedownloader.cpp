// SPDX-License-Identifier: GPL-3.0-or-later
// The downloader against a real Apache with basic authentication, and against the in-process
// peer for the faults: a silent or stalling server, bodies cut short, error and redirect pages,
// an unreachable port, an unwritable target; and a body over 2 GiB.
#include "apacheserver.h"
#include "fakehttpserver.h"
#include "filedownloader.h"
#include "testfiles.h"

#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <unistd.h>

Q_DECLARE_METATYPE(FakeHttpServer::Fault)

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

// A figure of /proc/self/status in KiB (VmRSS now, VmHWM the peak); -1 where there is none.
qint64 memoryKib(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
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
    void redirects_data();
    void redirects();
    void unwritableTarget();
    void deletedDownloaderWritesNothing();
    void bodyOverTwoGibibytes();

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
    QTest::addColumn<QByteArray>("expected"); // the whole file; empty when the fetch must fail
    QTest::addColumn<bool>("inPlace");
    const QString good = QStringLiteral("kestor:lesson");
    const QByteArray noise = readFile(ServerRoot + QStringLiteral("/tavelo/media/noise.bin"));
    QTest::newRow("text file") << QStringLiteral("/tavelo/hello.txt") << good
                               << readFile(ServerRoot + QStringLiteral("/tavelo/hello.txt")) << false;
    QTest::newRow("binary file") << QStringLiteral("/tavelo/media/noise.bin") << good << noise << false;
    // An error page is no file, whatever its content: it never replaces one.
    QTest::newRow("missing file: the error page")
        << QStringLiteral("/tavelo/missing.mp3") << good << QByteArray() << false;
    QTest::newRow("wrong password: the error page")
        << QStringLiteral("/tavelo/hello.txt") << QStringLiteral("kestor:wrong1") << QByteArray() << false;
    QTest::newRow("binary file written in place") << QStringLiteral("/tavelo/media/noise.bin") << good << noise << true;
    QTest::newRow("missing file written in place")
        << QStringLiteral("/tavelo/missing.mp3") << good << QByteArray() << true;
}

void tst_FileDownloader::fromCourseServer()
{
    QFETCH(QString, path);
    QFETCH(QString, credentials);
    QFETCH(QByteArray, expected);
    QFETCH(bool, inPlace);
    const QString target
        = m_target.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    FileDownloader downloader(target);
    downloader.setWriteInPlace(inPlace);
    const Outcome outcome
        = runDownload(downloader, QStringLiteral("http://") + credentials + QLatin1Char('@') + m_apache.host() + path);
    QVERIFY(downloader.isFinished());
    QCOMPARE(downloader.hasError(), expected.isEmpty());
    QCOMPARE(outcome.errors,
        expected.isEmpty() ? QStringList { QStringLiteral("Error downloading file: ") + target } : QStringList());
    QCOMPARE(outcome.downloadedAt.size(), 1);
    QCOMPARE(QFile::exists(target), !expected.isEmpty());
    QCOMPARE(readFile(target), expected);
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

    // A body that arrives replaces it; a file already named like the body on its way (here a second
    // name of another file, as in a staging folder) is replaced, not written through.
    const QString other = m_target.filePath(QStringLiteral("other.txt"));
    writeFile(other, "another installed file");
    QCOMPARE(
        ::link(QFile::encodeName(other).constData(), QFile::encodeName(target + QStringLiteral(".part")).constData()),
        0);
    FileDownloader downloader(target);
    runDownload(downloader, authUrl(QStringLiteral("/tavelo/hello.txt")));
    QCOMPARE(readFile(target), readFile(ServerRoot + QStringLiteral("/tavelo/hello.txt")));
    QCOMPARE(readFile(other), QByteArray("another installed file"));

    // Written in place, a target that is a second name of another file is replaced as well.
    QVERIFY(QFile::remove(target));
    QCOMPARE(::link(QFile::encodeName(other).constData(), QFile::encodeName(target).constData()), 0);
    FileDownloader inPlace(target);
    inPlace.setWriteInPlace(true);
    runDownload(inPlace, authUrl(QStringLiteral("/tavelo/hello.txt")));
    QVERIFY(!inPlace.hasError());
    QCOMPARE(readFile(target), readFile(ServerRoot + QStringLiteral("/tavelo/hello.txt")));
    QCOMPARE(readFile(other), QByteArray("another installed file"));
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
    // Silent until released: the watchdog ends a wait every 2 s (here: twice).
    QTest::newRow("silent server") << false << 2;
    // Data has begun to arrive: the watchdog stays quiet until the reply finishes.
    QTest::newRow("half the body at once, the rest later") << true << 0;
}

void tst_FileDownloader::watchdog()
{
    QFETCH(bool, trickle);
    QFETCH(int, watchdogSignals);
    const QByteArray body = QByteArray("arrives late but whole ").repeated(2000);
    FakeHttpServer server(body, -1, trickle);
    const QString target = m_target.filePath(QStringLiteral("late%1.txt").arg(trickle));
    FileDownloader downloader(target);
    QSignalSpy waits(&downloader, &FileDownloader::downloaded);
    downloader.download(QUrl(server.url()));
    if (trickle)
        QTRY_VERIFY(downloader.progressSeen());
    // A silent companion started now has ended its own wait twice only after two watchdog periods
    // of this downloader have passed.
    FakeHttpServer silent(QByteArray(), -1);
    FileDownloader companion(m_target.filePath(QStringLiteral("companion")));
    QSignalSpy companionWaits(&companion, &FileDownloader::downloaded);
    companion.download(QUrl(silent.url()));
    QTRY_VERIFY_WITH_TIMEOUT(companionWaits.size() >= 2 && waits.size() >= watchdogSignals, 20000);
    QCOMPARE(waits.size(), watchdogSignals);
    QVERIFY(!downloader.isFinished());

    // The request went on behind the watchdog and its file was written.
    server.release();
    QTRY_VERIFY_WITH_TIMEOUT(downloader.isFinished(), 10000);
    QCOMPARE(waits.size(), watchdogSignals + 1);
    QVERIFY(!downloader.hasError());
    QCOMPARE(readFile(target), body);

    // Once finished, the watchdog is not armed again: another period passes without a signal.
    QTRY_VERIFY_WITH_TIMEOUT(companionWaits.size() >= 4, 20000);
    QCOMPARE(waits.size(), watchdogSignals + 1);
}

void tst_FileDownloader::failures_data()
{
    using Fault = FakeHttpServer::Fault;
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("listening");
    const QByteArray picture = QByteArray("a picture of some size ").repeated(4000);
    QTest::newRow("empty body") << Fault::None << QByteArray() << true;
    QTest::newRow("nothing listens") << Fault::None << picture << false;
    QTest::newRow("cut short under its full length") << Fault::CutShort << picture << true;
    QTest::newRow("503 page") << Fault::Unavailable << picture << true;
    QTest::newRow("302 page, not followed") << Fault::Redirect << picture << true;
    QTest::newRow("stalls after the headers") << Fault::StallAfterHeaders << picture << true;
    QTest::newRow("closed in the middle of the body") << Fault::CloseMidBody << picture << true;
}

// A failed fetch is reported, and the file that was there stays as it was, with nothing beside it.
void tst_FileDownloader::failures()
{
    QFETCH(FakeHttpServer::Fault, fault);
    QFETCH(QByteArray, body);
    QFETCH(bool, listening);
    FakeHttpServer server(body);
    // A redirect to another server is never followed.
    server.setFault(QStringLiteral("*"), fault, QStringLiteral("http://localhost:1/elsewhere"));
    const QString url
        = listening ? server.url() : QStringLiteral("http://127.0.0.1:%1/file").arg(ApacheServer::freePort());
    QDir(m_target.path()).mkpath(QStringLiteral("failures"));
    const QString target = m_target.filePath(QStringLiteral("failures/") + QLatin1String(QTest::currentDataTag()));
    writeFile(target, "the old file that worked");
    FileDownloader downloader(target);
    downloader.setStallTimeout(300);
    QSignalSpy finished(&downloader, &FileDownloader::finished);
    const Outcome outcome = runDownload(downloader, url);
    QVERIFY(downloader.isFinished());
    QVERIFY(downloader.hasError());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(outcome.errors, QStringList { QStringLiteral("Error downloading file: ") + target });
    QCOMPARE(outcome.ausgaben, QStringList());
    QCOMPARE(readFile(target), QByteArray("the old file that worked"));
    QCOMPARE(QDir(m_target.filePath(QStringLiteral("failures")))
                 .entryList(QDir::Files | QDir::Hidden)
                 .filter(QLatin1String(QTest::currentDataTag())),
        QStringList { QFileInfo(target).fileName() });
}

void tst_FileDownloader::redirects_data()
{
    QTest::addColumn<QString>("location"); // "@SELF@" is the server itself
    QTest::addColumn<bool>("followed");
    QTest::newRow("same server") << QStringLiteral("@SELF@/moved") << true;
    QTest::newRow("another port") << QStringLiteral("http://127.0.0.1:1/moved") << false;
    QTest::newRow("another host") << QStringLiteral("http://localhost:@PORT@/moved") << false;
    QTest::newRow("a local file") << QStringLiteral("file:///etc/hostname") << false;
}

void tst_FileDownloader::redirects()
{
    QFETCH(QString, location);
    FakeHttpServer server(QByteArray("the moved file"));
    location
        .replace(QStringLiteral("@SELF@"), QStringLiteral("http://127.0.0.1:") + QString::number(server.serverPort()))
        .replace(QStringLiteral("@PORT@"), QString::number(server.serverPort()));
    server.setFault(QStringLiteral("/file"), FakeHttpServer::Fault::Redirect, location);
    const QString target = m_target.filePath(QStringLiteral("redirect_") + QLatin1String(QTest::currentDataTag()));
    FileDownloader downloader(target);
    runDownload(downloader,
        QStringLiteral("http://u:p@127.0.0.1:") + QString::number(server.serverPort()) + QStringLiteral("/file"));
    QVERIFY(downloader.isFinished());
    QTEST(!downloader.hasError(), "followed");
    QCOMPARE(readFile(target), downloader.hasError() ? QByteArray() : QByteArray("the moved file"));
    QCOMPARE(server.paths().contains(QStringLiteral("/moved")), !downloader.hasError());
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
}

void tst_FileDownloader::deletedDownloaderWritesNothing()
{
    // The installer deletes a course file's downloader when its wait ends: the request goes too.
    // Also when the target was made ahead to be written in place.
    const QString target = m_target.filePath(QStringLiteral("abandoned.txt"));
    for (const bool inPlace : { false, true }) {
        FakeHttpServer server(QByteArray("too late"), 1000);
        auto downloader = std::make_unique<FileDownloader>(target);
        downloader->setWriteInPlace(inPlace);
        downloader->download(QUrl(server.url()));
        QTRY_COMPARE(server.requestCount(), 1);
        downloader.reset();
        QTRY_COMPARE(server.abandonedCount(), 1);
        QTRY_VERIFY(!QFile::exists(target));
    }

    // The next downloader still gets its file.
    FakeHttpServer next(QByteArray("in time"));
    FileDownloader again(target);
    runDownload(again, next.url());
    QCOMPARE(readFile(target), QByteArray("in time"));
}

// A body is streamed to its file as it arrives: one over 2 GiB (where a 32-bit size or a body held
// in memory fails) arrives whole, and the process's peak memory grows by far less than the body,
// also from a server that sends faster than the file is written.
void tst_FileDownloader::bodyOverTwoGibibytes()
{
    const qint64 size = (qint64(1) << 31) + 70001;
    if (QStorageInfo(m_target.path()).bytesAvailable() < size + (qint64(1) << 30))
        QSKIP("needs 3 GiB free beside the temporary folder");
    // The server in a thread of its own, so that it goes on sending while this one is held up.
    QThread serverThread;
    auto *server = new FakeHttpServer;
    server->setGeneratedBody(size);
    const QString url = server->url();
    server->moveToThread(&serverThread);
    connect(&serverThread, &QThread::finished, server, &QObject::deleteLater);
    serverThread.start();
    const QString target = m_target.filePath(QStringLiteral("large.bin"));
    // The peak is reset where the kernel allows it; else it only starts from an earlier one.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    clearRefs.close();
    const qint64 residentBefore = memoryKib("VmRSS");
    {
        FileDownloader downloader(target);
        // An event loop of its own: qWaitFor's naps between passes would throttle the transfer.
        QSignalSpy finished(&downloader, &FileDownloader::finished);
        downloader.download(QUrl(url));
        QTRY_VERIFY_WITH_TIMEOUT(downloader.received() > 0, 60000);
        // A slow disk: the thread that writes the file is held up, and meanwhile the network
        // layer must not take in the body faster than it is written.
        QThread::sleep(2);
        QVERIFY(finished.wait(600000));
        QVERIFY(!downloader.hasError());
        QCOMPARE(downloader.received(), size);
    }
    serverThread.quit();
    serverThread.wait();
    const qint64 grown = memoryKib("VmHWM") - residentBefore;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer holds up to 256 MiB of freed blocks back from reuse, and the peak counts them.
    const qint64 allowance = 512 * 1024;
#else
    const qint64 allowance = 256 * 1024;
#endif
    QVERIFY2(grown < allowance, qPrintable(QStringLiteral("peak memory grew by %1 KiB").arg(grown)));
    QFile file(target);
    QCOMPARE(file.size(), size);
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const qint64 offset : { qint64(0), qint64(65521 * 3 + 7), (qint64(1) << 31) - 1, qint64(1) << 31,
             (qint64(1) << 31) + 65536, size - 1 }) {
        char byte = 0;
        QVERIFY(file.seek(offset) && file.getChar(&byte));
        QCOMPARE(byte, FakeHttpServer::patternByte(offset));
    }
    file.close();
    QVERIFY(file.remove());
}

QTEST_GUILESS_MAIN(tst_FileDownloader)
#include "tst_filedownloader.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Sound, speech and recording: what the sound actions send and when their waits end, real speech
// and a real recording of the sound server's "mic" source.
#include "kestapplication.h"
#include "kestbranchmanager.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "kestthread.h"
#include "logcapture.h"
#include "testactions.h"
#include "variablestore.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace {

QString call(const char *action, const QStringList &args)
{
    QString body = QLatin1Char('<') + QLatin1String(action) + QLatin1Char('>');
    for (const QString &text : args)
        body += QStringLiteral("<Number>") + text.toHtmlEscaped() + QStringLiteral("</Number>");
    return body + QStringLiteral("</") + QLatin1String(action) + QLatin1Char('>');
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// Runs the tree on a worker thread that owns it meanwhile, as the engine does, and hands it back
// at the end so that it can be deleted here.
std::unique_ptr<QThread> runOnWorker(kestObject *root)
{
    QThread *home = QThread::currentThread();
    std::unique_ptr<QThread> worker(QThread::create([root, home] {
        root->execute();
        root->moveToThread(home);
    }));
    root->moveToThread(worker.get());
    worker->start();
    return worker;
}

bool haveSoundServer()
{
    return qEnvironmentVariableIsSet("PULSE_SERVER");
}

struct WavHeader
{
    QByteArray riff, wave, fmt, data;
    quint32 riffSize = 0, fmtSize = 0, rate = 0, byteRate = 0, dataSize = 0;
    quint16 format = 0, channels = 0, frameSize = 0, bits = 0;
};

WavHeader readHeader(const QString &path)
{
    QFile file(path);
    WavHeader h;
    if (!file.open(QIODevice::ReadOnly))
        return h;
    QDataStream in(&file);
    in.setByteOrder(QDataStream::LittleEndian);
    auto tag = [&in] {
        QByteArray t(4, '\0');
        in.readRawData(t.data(), 4);
        return t;
    };
    h.riff = tag();
    in >> h.riffSize;
    h.wave = tag();
    h.fmt = tag();
    in >> h.fmtSize >> h.format >> h.channels >> h.rate >> h.byteRate >> h.frameSize >> h.bits;
    h.data = tag();
    in >> h.dataSize;
    return h;
}

} // namespace

// Owner of the branches in the recording test: branches report here when they end alongside.
class BranchOwner : public QObject
{
    Q_OBJECT
public slots:
    void handleResults(QString) { }
};

class tst_SoundActions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void playSoundWaitsForItsOwnEnd();
    void playSoundStopped_data();
    void playSoundStopped();
    void playSoundAtOnce_data();
    void playSoundAtOnce();
    void playList_data();
    void playList();
    void stopSilencesListWhileNotWaiting();
    void playRandom_data();
    void playRandom();
    void recordingRefused_data();
    void recordingRefused();
    void recording();
    void recordingBesideHoverStoppedByClick();
    void speech();

private:
    std::unique_ptr<kestObject> build(const QString &body, bool registered = true);
    // The "playaudio" and "stopMedia" commands that reached the application, in order.
    QStringList sent() const
    {
        QMutexLocker locker(&m_lock);
        return m_sent;
    }
    // The files of the "playaudio" commands sent, relative to the course folder.
    QStringList playedFiles() const;
    QString course(const char *file) const { return m_course->path() + QLatin1Char('/') + QLatin1String(file); }
    QString user(const char *file) const { return m_user->path() + QLatin1Char('/') + QLatin1String(file); }

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<QTemporaryDir> m_course;
    std::unique_ptr<QTemporaryDir> m_user;
    mutable QMutex m_lock;
    QStringList m_sent;
};

void tst_SoundActions::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    m_app->setCommandHandler([this](const QString &command, const QString &payload) {
        QMutexLocker locker(&m_lock);
        m_sent << command + QLatin1Char('=') + payload;
    });
}

void tst_SoundActions::init()
{
    kestVariables::clear();
    TestRecord::clearJournal();
    {
        QMutexLocker locker(&m_lock);
        m_sent.clear();
    }
    m_course = std::make_unique<QTemporaryDir>();
    m_user = std::make_unique<QTemporaryDir>();
    m_app->setProjectPath(m_course->path() + QLatin1Char('/'));
    kestVariables::assignVariable(QStringLiteral("USERPATH"), m_user->path() + QLatin1Char('/'));
    for (const char *name : { "a.wav", "b.txt", "c.wav", "lists/d.ogg", "e.MP3" })
        writeFile(course(name), "RIFF....WAVEfmt \n\n\n");
    writeFile(course("broken.wav"), "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n"
                                    "<title>404 Not Found</title>\n</head></html>\n");
}

void tst_SoundActions::cleanup()
{
    statRunningObject = nullptr;
    statScriptRunning = false;
}

std::unique_ptr<kestObject> tst_SoundActions::build(const QString &body, bool registered)
{
    auto root = buildBody(body);
    if (root && registered) {
        statRunningObject = root.get();
        statScriptRunning = true;
    }
    return root;
}

QStringList tst_SoundActions::playedFiles() const
{
    const QString prefix = QStringLiteral("playaudio=") + QUrl::fromLocalFile(m_course->path()).toString() + QLatin1Char('/');
    QStringList files;
    for (const QString &command : sent()) {
        if (command.startsWith(prefix))
            files << command.mid(prefix.size()).section(QStringLiteral(";_;"), 0, 0);
        else
            files << QStringLiteral("unexpected: ") + command;
    }
    return files;
}

void tst_SoundActions::playSoundWaitsForItsOwnEnd()
{
    const auto root = build(QStringLiteral("<ActionList>") + call("PlaySound", lines("a.wav"))
        + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"));
    LogCapture log;
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(sent().size(), 1);
    const QString id = sent().first().mid(QStringLiteral("playaudio=").size());
    QVERIFY2(QRegularExpression(QStringLiteral("^file:///.*/a\\.wav;_;\\d{13}$")).match(id).hasMatch(), qPrintable(id));
    QCOMPARE(log.count(QStringLiteral("[LIB] PlaySound (") + id.section(QStringLiteral(";_;"), 0, 0) + QLatin1Char(')')), 1);

    // Another sound's end (the same file started a millisecond later) does not end this wait.
    const qint64 started = id.section(QStringLiteral(";_;"), 1).toLongLong();
    emit m_app->stopAudioSignal(id.section(QStringLiteral(";_;"), 0, 0) + QStringLiteral(";_;")
        + QString::number(started + 1));
    QTest::qWait(200);
    QVERIFY(worker->isRunning());
    emit m_app->stopAudioSignal(id);
    QVERIFY(worker->wait(5000));
    QCOMPARE(TestRecord::journal(), lines("after"));
    QCOMPARE(log.count(QStringLiteral("[LIB] PlaySound: Stopping my Loop! File: ") + id), 1);
    QCOMPARE(sent().size(), 1);
}

void tst_SoundActions::playSoundStopped_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("scriptGoesOn");
    QTest::newRow("stopAll ends the sound, not the script") << "stopAll" << true;
    QTest::newRow("exitAll") << "exitAll" << false;
    QTest::newRow("pre-empted by a click") << "preempt" << false;
    QTest::newRow("stop flag alone") << "flag" << false;
}

void tst_SoundActions::playSoundStopped()
{
    QFETCH(QString, trigger);
    QFETCH(bool, scriptGoesOn);
    const auto root = build(QStringLiteral("<ActionList>") + call("PlaySound", lines("a.wav"))
        + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"));
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(sent().size(), 1);
    QTest::qWait(50);
    QElapsedTimer clock;
    clock.start();
    if (trigger == QLatin1String("stopAll"))
        emit m_app->stopAll();
    else if (trigger == QLatin1String("exitAll"))
        emit m_app->exitAll();
    else if (trigger == QLatin1String("preempt"))
        kestObject::endAllOn(root.get(), CLICK);
    else
        root->skipObject = true;
    QVERIFY(worker->wait(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(sent().size(), 2);
    QTest::qWait(50);
    QCOMPARE(sent().at(1), QStringLiteral("stopMedia="));
    QCOMPARE(sent().size(), 2);
    QCOMPARE(TestRecord::journal(), scriptGoesOn ? lines("after") : lines(""));
}

void tst_SoundActions::playSoundAtOnce_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("registered");
    QTest::addColumn<QStringList>("played"); // file names
    QTest::addColumn<QString>("logged");
    QTest::newRow("false in any case plays in the background")
        << call("PlaySound", lines("a.wav|FaLsE")) << true << lines("a.wav") << "[LIB] PlaySound is BACKGROUND: true";
    QTest::newRow("backslash in the name") << call("PlaySound", lines("lists\\d.ogg|false")) << true
                                           << lines("lists/d.ogg") << "";
    QTest::newRow("missing file is skipped") << call("PlaySound", lines("nothing.wav")) << true << lines("")
                                             << "[LIB] PlaySound MP3 is BROKEN! : nothing.wav";
    QTest::newRow("error page saved as sound is skipped") << call("PlaySound", lines("broken.wav")) << true
                                                          << lines("") << "[LIB] PlaySound MP3 is BROKEN! : broken.wav";
    QTest::newRow("no running script") << call("PlaySound", lines("a.wav|false")) << false << lines("") << "";
}

void tst_SoundActions::playSoundAtOnce()
{
    QFETCH(QString, body);
    QFETCH(bool, registered);
    QFETCH(QStringList, played);
    QFETCH(QString, logged);
    const auto root = build(body, registered);
    LogCapture log;
    // On this thread: a wait would never end, as nothing reports the sound finished.
    root->execute();
    QCoreApplication::processEvents();
    QCOMPARE(playedFiles(), played);
    if (!logged.isEmpty())
        QCOMPARE(log.count(logged), 1);
}

void tst_SoundActions::playList_data()
{
    QTest::addColumn<QString>("listName"); // as the script names it
    QTest::addColumn<QString>("listFile"); // below the user folder
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("played");
    QTest::newRow("stops at a file that is no sound") << "fruits.txt" << "fruits.txt" << QByteArray("a.wav,b.txt,c.wav")
                                                      << lines("a.wav");
    QTest::newRow("lines cleaned, missing files and empty parts skipped")
        << "fruits.txt" << "fruits.txt" << QByteArray("  a.wav,,missing.wav\r\n\r\nc.wav,e.MP3  \n")
        << lines("a.wav|c.wav|e.MP3");
    QTest::newRow("error page ends the list") << "fruits.txt" << "fruits.txt" << QByteArray("a.wav,broken.wav,c.wav")
                                              << lines("a.wav");
    QTest::newRow("entries below the list's folder") << "lists\\sounds.txt" << "lists/sounds.txt"
                                                     << QByteArray("d.ogg") << lines("lists/d.ogg");
    QTest::newRow("no list file") << "none.txt" << "" << QByteArray() << lines("");
}

void tst_SoundActions::playList()
{
    QFETCH(QString, listName);
    QFETCH(QString, listFile);
    QFETCH(QByteArray, content);
    if (!listFile.isEmpty())
        writeFile(user(listFile.toUtf8().constData()), content);
    QSignalSpy speechEnds(m_app.get(), &kestApplication::stopTTS);
    const auto root = build(call("PlayList", { listName }), false);
    QCOMPARE(root->execute(), QString());
    QCoreApplication::processEvents();
    QTEST(playedFiles(), "played");
    // Any text still being read aloud is ended first.
    QTRY_COMPARE(speechEnds.count(), 1);
}

void tst_SoundActions::stopSilencesListWhileNotWaiting()
{
    // The list does not wait; a stop that comes while the script sleeps still stops its sounds.
    writeFile(user("fruits.txt"), "a.wav,c.wav");
    const auto root = build(QStringLiteral("<ActionList>") + call("PlayList", lines("fruits.txt"))
        + call("Wait", lines("60000")) + QStringLiteral("</ActionList>"));
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(playedFiles(), lines("a.wav|c.wav"));
    kestObject::endAllOn(root.get(), CLICK);
    QVERIFY(worker->wait(5000));
    QTRY_COMPARE(sent().size(), 3);
    QCOMPARE(sent().last(), QStringLiteral("stopMedia="));
}

void tst_SoundActions::playRandom_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("candidates");
    QTest::newRow("one of three") << QByteArray("a.wav,c.wav\ne.MP3") << lines("a.wav|c.wav|e.MP3");
    QTest::newRow("empty list plays nothing") << QByteArray("\n,,\n") << lines("");
}

void tst_SoundActions::playRandom()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, candidates);
    writeFile(user("pick.txt"), content);
    const auto root = build(call("PlayRandom", lines("pick.txt")), false);
    root->execute();
    QCoreApplication::processEvents();
    const QStringList files = playedFiles();
    QCOMPARE(files.size(), candidates.isEmpty() ? 0 : 1);
    if (!candidates.isEmpty())
        QVERIFY2(candidates.contains(files.first()), qPrintable(files.first()));
}

void tst_SoundActions::recordingRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("up and out of the user folder") << "..\\outside.wav";
    QTest::newRow("absolute path elsewhere") << "{OTHER}/elsewhere.wav";
    QTest::newRow("through the user folder and out") << "USERPATH\\..\\outside.wav";
    QTest::newRow("the user folder itself") << "USERPATH";
    QTest::newRow("a folder where the file would go") << "taken";
    QTest::newRow("link out of the user folder") << "link/out.wav";
}

void tst_SoundActions::recordingRefused()
{
    QFETCH(QString, path);
    QTemporaryDir other;
    path.replace(QStringLiteral("{OTHER}"), other.path());
    QDir(m_user->path()).mkdir(QStringLiteral("taken"));
    QFile::link(other.path(), user("link"));
    const auto root = build(call("RecordSound", { path, QStringLiteral("5") }));
    root->prio = CLICK;
    LogCapture log;
    root->execute();
    // Nothing recorded anywhere, and the script is an ordinary click script again.
    QCOMPARE(root->prio.load(), CLICK);
    QCOMPARE(QDir(other.path()).entryList(QDir::Files), QStringList());
    QVERIFY(!QFile::exists(m_user->path() + QStringLiteral("/../outside.wav")));
    QVERIFY(QFileInfo(user("taken")).isDir());
    QCOMPARE(log.startingWith(QStringLiteral("[LIB] RecordSound: ")).size(), 1);
}

void tst_SoundActions::recording()
{
    if (!haveSoundServer())
        QSKIP("needs the sound server of tools/sound-server.sh");
    const auto root = build(call("RecordSound", lines("rec\\voice.wav|0")));
    root->prio = CLICK;
    LogCapture log;
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(root->prio.load(), RECORD);
    QTest::qWait(4000);
    QVERIFY(worker->isRunning());
    emit m_app->stopRecord();
    QVERIFY(worker->wait(5000));
    QCOMPARE(root->prio.load(), CLICK);
    QVERIFY(log.count(QStringLiteral("devicename: mic")) == 1);

    const QString path = user("rec/voice.wav");
    const qint64 size = QFileInfo(path).size();
    QVERIFY2(size > 44 + 16000, qPrintable(QString::number(size))); // over half a second of sound
    const WavHeader h = readHeader(path);
    QCOMPARE(h.riff, QByteArray("RIFF"));
    QCOMPARE(qint64(h.riffSize), size - 8);
    QCOMPARE(h.wave, QByteArray("WAVE"));
    QCOMPARE(h.fmt, QByteArray("fmt "));
    QCOMPARE(h.fmtSize, 16u);
    QCOMPARE(h.format, quint16(1));
    QCOMPARE(h.channels, quint16(1));
    QCOMPARE(h.rate, 16000u);
    QCOMPARE(h.byteRate, 32000u);
    QCOMPARE(h.frameSize, quint16(2));
    QCOMPARE(h.bits, quint16(16));
    QCOMPARE(h.data, QByteArray("data"));
    QCOMPARE(qint64(h.dataSize), size - 44);

    // The microphone of the test's sound server is a 440 Hz tone.
    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    if (sox.isEmpty())
        return;
    QProcess stat;
    stat.start(sox, { path, QStringLiteral("-n"), QStringLiteral("stat") });
    QVERIFY(stat.waitForFinished(10000));
    const QRegularExpressionMatch frequency
        = QRegularExpression(QStringLiteral("Rough\\s+frequency:\\s+(\\d+)")).match(QString::fromUtf8(stat.readAllStandardError()));
    QVERIFY(frequency.hasMatch());
    QVERIFY2(qAbs(frequency.captured(1).toInt() - 440) < 20, qPrintable(frequency.captured(0)));
}

void tst_SoundActions::recordingBesideHoverStoppedByClick()
{
    if (!haveSoundServer())
        QSKIP("needs the sound server of tools/sound-server.sh");
    QDomDocument doc;
    QVERIFY(doc.setContent(QStringLiteral(
        "<Scripts>"
        "<Code>Record<ActionList>") + call("RecordSound", lines("voice.wav|0")) + QStringLiteral(
        "<TestRecord>recorded</TestRecord></ActionList></Code>"
        "<Code>Hover<TestRecord>hover</TestRecord></Code>"
        "<Code>Click<TestRecord>click</TestRecord></Code>"
        "</Scripts>")));
    BranchOwner owner;
    QDomElement code = doc.documentElement().firstChildElement();
    kestBranchManager record(&owner, code, QStringLiteral("Record"));
    kestBranchManager hover(&owner, code = code.nextSiblingElement(), QStringLiteral("Hover"));
    kestBranchManager click(&owner, code.nextSiblingElement(), QStringLiteral("Click"));

    record.run(CLICK);
    QTRY_VERIFY(statRunningObject.load() && statRunningObject.load()->prio.load() == RECORD);
    hover.run(SELECT);
    QTRY_COMPARE(TestRecord::journal(), lines("hover"));
    QTest::qWait(1000);
    QVERIFY(record.isBusy());
    QVERIFY(QFileInfo::exists(user("voice.wav")));

    click.run(CLICK);
    QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
    QCOMPARE(TestRecord::journal(), lines("hover|click"));
    QCOMPARE(qint64(readHeader(user("voice.wav")).dataSize), QFileInfo(user("voice.wav")).size() - 44);
}

void tst_SoundActions::speech()
{
    if (!haveSoundServer())
        QSKIP("needs the sound server of tools/sound-server.sh");
    writeFile(course("texts/say.txt"), "Say the name of the fruit.\nThis line is not read.\n");
    LogCapture log;
    // The first text also waits for the engine, which takes a while to learn its voices.
    const auto said = build(QStringLiteral("<ActionList>") + call("PlayTextFile", lines("texts\\say.txt"))
        + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"));
    QSignalSpy ended(m_app.get(), &kestApplication::ttsFinished);
    auto worker = runOnWorker(said.get());
    QVERIFY(worker->wait(120000));
    QCOMPARE(TestRecord::journal(), lines("after"));
    QCOMPARE(log.count(QStringLiteral("PlayTextFile file exists: ") + course("texts/say.txt")), 1);
    QVERIFY(log.startingWith(QStringLiteral("[LIB] Speech: ")).isEmpty());
    QTRY_COMPARE(ended.count(), 1);

    // A name that is no file is read as it stands; the wait lasts as long as the reading.
    QElapsedTimer clock;
    clock.start();
    const auto text = build(call("PlayTextFile", lines("Apple, pear and cherry.")));
    worker = runOnWorker(text.get());
    QVERIFY(worker->wait(60000));
    QVERIFY2(clock.elapsed() > 500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(log.count(QStringLiteral("PlayTextFile file does not exists: ") + course("Apple, pear and cherry.")), 1);

    // A long text is cut short by a stop request that only sets the flag.
    const auto longText = build(call("PlayTextFile",
        { QStringLiteral("One two three four five six seven eight nine ten eleven twelve thirteen fourteen.") }));
    worker = runOnWorker(longText.get());
    QTest::qWait(700);
    QVERIFY(worker->isRunning());
    clock.restart();
    longText->skipObject = true;
    QVERIFY(worker->wait(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_MAIN(tst_SoundActions)
#include "tst_soundactions.moc"

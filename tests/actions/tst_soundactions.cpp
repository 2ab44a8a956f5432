// SPDX-License-Identifier: GPL-3.0-or-later
// Sound, speech and recording: what the sound actions send and when their waits end, real speech
// and real recordings of the test sound server's "mic" source.
#include "kestapplication.h"
#include "kestbranchmanager.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "kestthread.h"
#include "logcapture.h"
#include "mediafiles.h"
#include "testactions.h"
#include "testclock.h"
#include "testfiles.h"
#include "variablestore.h"

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace {

// The fixed part of a 44-byte WAV header (PCM, mono, 16 kHz, 16 bit), and whether its two sizes
// agree with the file's size.
QString headerOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("no file");
    const QByteArray header = file.read(44);
    QDataStream in(header);
    in.setByteOrder(QDataStream::LittleEndian);
    quint32 riffSize = 0;
    quint32 dataSize = 0;
    in.skipRawData(4);
    in >> riffSize;
    in.skipRawData(32);
    in >> dataSize;
    return QString::fromLatin1(header.mid(0, 4) + header.mid(8, 28).toHex(' ') + ' ' + header.mid(36, 4))
        + (riffSize == file.size() - 8 && dataSize == file.size() - 44 ? QStringLiteral(" sizes agree")
                                                                       : QStringLiteral(" sizes differ"));
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("no file");
}

// The size of the recording under way into folder; -1 for none. Until it has succeeded it is
// written to a file that may have no name yet: this process's open files show it.
qint64 recordingUnderWay(const QString &folder)
{
    const QFileInfoList open = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files);
    for (const QFileInfo &link : open) {
        if (link.symLinkTarget().startsWith(folder + QLatin1Char('/')))
            return link.size();
    }
    return -1;
}

const QString MonoHeader = QStringLiteral(
    "RIFF57 41 56 45 66 6d 74 20 10 00 00 00 01 00 01 00 80 3e 00 00 00 7d 00 00 02 00 10 00 data sizes agree");

} // namespace

// Owner of the branches in the recording test.
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
    void soundsSentAtOnce_data();
    void soundsSentAtOnce();
    void stopSilencesListWhileNotWaiting();
    void recordingRefused_data();
    void recordingRefused();
    void recording();
    void recordingWithoutMicrophone();
    void recordingBesideHoverStoppedByClick();
    void speech();
    void speechUnavailable_data();
    void speechUnavailable();
    void speechUnavailableChild();

private:
    QStringList sent() const
    {
        QMutexLocker locker(&m_lock);
        return m_sent;
    }
    // The files of the "playaudio" commands, relative to the course folder.
    QStringList playedFiles() const;
    QString course(const QString &file) const { return m_course->filePath(file); }
    QString user(const QString &file) const { return m_user->filePath(file); }

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<QTemporaryDir> m_course;
    std::unique_ptr<QTemporaryDir> m_user;
    mutable QMutex m_lock;
    QStringList m_sent; // "command=payload" as the application's router would get them
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
    QMutexLocker locker(&m_lock);
    m_sent.clear();
    locker.unlock();
    m_course = std::make_unique<QTemporaryDir>();
    m_user = std::make_unique<QTemporaryDir>();
    m_app->setProjectPath(m_course->path() + QLatin1Char('/'));
    kestVariables::assignVariable(QStringLiteral("USERPATH"), m_user->path() + QLatin1Char('/'));
    for (const char *name : { "a.wav", "b.txt", "c.wav", "lists/d.ogg", "e.MP3" })
        writeFile(course(QLatin1String(name)), "RIFF....WAVEfmt \n\n\n");
    writeFile(course(QStringLiteral("broken.wav")),
        "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>404 Not Found</title>\n");
}

void tst_SoundActions::cleanup()
{
    clearRunning();
}

QStringList tst_SoundActions::playedFiles() const
{
    const QString prefix
        = QStringLiteral("playaudio=") + QUrl::fromLocalFile(m_course->path()).toString() + QLatin1Char('/');
    QStringList files;
    for (const QString &command : sent())
        files << (command.startsWith(prefix) ? command.mid(prefix.size()).section(QStringLiteral(";_;"), 0, 0)
                                             : command);
    return files;
}

void tst_SoundActions::playSoundWaitsForItsOwnEnd()
{
    const auto root = buildRegistered(QStringLiteral("<ActionList>") + call("PlaySound", QStringLiteral("a.wav"))
        + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"));
    LogCapture log;
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(sent().size(), 1);
    const QString id = sent().first().mid(QStringLiteral("playaudio=").size());
    QVERIFY2(QRegularExpression(QStringLiteral("^file:///.*/a\\.wav;_;\\d{13}$")).match(id).hasMatch(), qPrintable(id));

    // The same file started a millisecond later is another playback: its end does not count.
    const QStringList parts = id.split(QStringLiteral(";_;"));
    const QString later = parts.at(0) + QStringLiteral(";_;") + QString::number(parts.at(1).toLongLong() + 1);
    emit m_app->stopAudioSignal(later);
    QTRY_COMPARE(log.count(QStringLiteral("qmlFinishedSound received: ") + later), 1);
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
    QTest::newRow("stopAll ends the sound, not the script") << "stopAll";
    QTest::newRow("exitAll") << "exitAll";
    QTest::newRow("pre-empted by a click") << "preempt";
    QTest::newRow("stop flag alone") << "flag";
}

void tst_SoundActions::playSoundStopped()
{
    QFETCH(QString, trigger);
    const auto root = buildRegistered(QStringLiteral("<ActionList>") + call("PlaySound", QStringLiteral("a.wav"))
        + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"));
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(sent().size(), 1);
    if (trigger == QLatin1String("stopAll"))
        emit m_app->stopAll();
    else if (trigger == QLatin1String("exitAll"))
        emit m_app->exitAll();
    else if (trigger == QLatin1String("preempt"))
        kestObject::endAllOn(root.get(), CLICK);
    else
        root->skipObject = true;
    QVERIFY(worker->wait(5000));
    // Every command the stop caused is posted to this thread by now: exactly one stopMedia.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(sent().mid(1), QStringList { QStringLiteral("stopMedia=") });
    QCOMPARE(TestRecord::journal(), trigger == QLatin1String("stopAll") ? lines("after") : lines(""));
}

void tst_SoundActions::soundsSentAtOnce_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("listFile"); // below the user folder, "" for none
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QStringList>("played"); // files; with "?" in front: exactly one of them
    QTest::addColumn<QString>("logged");
    const auto row = [](const char *name, const char *action, const char *args, const char *listFile, const char *list,
                         const char *played, const char *logged = "") {
        QTest::newRow(name) << call(action, QString::fromUtf8(args)) << QString::fromUtf8(listFile) << QByteArray(list)
                            << lines(played) << QString::fromUtf8(logged);
    };
    row("false in any case: no wait", "PlaySound", "a.wav|FaLsE", "", "", "a.wav",
        "[LIB] PlaySound is BACKGROUND: true");
    row("backslashes", "PlaySound", "lists\\d.ogg|false", "", "", "lists/d.ogg");
    row("missing file", "PlaySound", "nothing.wav", "", "", "", "[LIB] PlaySound MP3 is BROKEN! : nothing.wav");
    row("error page as sound", "PlaySound", "broken.wav", "", "", "", "[LIB] PlaySound MP3 is BROKEN! : broken.wav");
    row("list stops at a file that is no sound", "PlayList", "l.txt", "l.txt", "a.wav,b.txt,c.wav", "a.wav");
    row("list lines cleaned, missing files and empty parts skipped", "PlayList", "l.txt", "l.txt",
        "  a.wav,,missing.wav\r\n\r\nc.wav,e.MP3  \n", "a.wav|c.wav|e.MP3", "File doesn\u00b4t exists ");
    row("error page ends the list", "PlayList", "l.txt", "l.txt", "a.wav,broken.wav,c.wav", "a.wav");
    row("entries below the list's folder", "PlayList", "lists\\l.txt", "lists/l.txt", "d.ogg", "lists/d.ogg");
    row("no list file", "PlayList", "none.txt", "", "", "");
    row("random pick", "PlayRandom", "l.txt", "l.txt", "a.wav,c.wav\ne.MP3", "?|a.wav|c.wav|e.MP3");
    row("random pick from an empty list", "PlayRandom", "l.txt", "l.txt", "\n,,\n", "");
}

void tst_SoundActions::soundsSentAtOnce()
{
    QFETCH(QString, body);
    QFETCH(QString, listFile);
    QFETCH(QByteArray, list);
    QFETCH(QStringList, played);
    QFETCH(QString, logged);
    if (!listFile.isEmpty())
        writeFile(user(listFile), list);
    const auto root = buildRegistered(body);
    QSignalSpy speechEnds(m_app.get(), &kestApplication::stopTTS);
    LogCapture log;
    // On this thread: a wait would never end, as nothing reports a sound finished.
    root->execute();
    QCoreApplication::processEvents();
    if (played.value(0) == QLatin1String("?")) {
        QCOMPARE(playedFiles().size(), 1);
        QVERIFY(played.contains(playedFiles().first()));
    } else {
        QCOMPARE(playedFiles(), played);
    }
    if (!logged.isEmpty())
        QCOMPARE(log.startingWith(logged).size(), 1);
    // A play list first ends any text still being read aloud.
    QCOMPARE(speechEnds.count(), body.startsWith(QLatin1String("<PlayList>")) ? 1 : 0);
}

void tst_SoundActions::stopSilencesListWhileNotWaiting()
{
    writeFile(user(QStringLiteral("l.txt")), "a.wav,c.wav");
    const auto root = buildRegistered(QStringLiteral("<ActionList>") + call("PlayList", QStringLiteral("l.txt"))
        + call("Wait", QStringLiteral("60000")) + QStringLiteral("</ActionList>"));
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(playedFiles(), lines("a.wav|c.wav"));
    kestObject::endAllOn(root.get(), CLICK);
    QVERIFY(worker->wait(5000));
    QTRY_COMPARE(playedFiles(), lines("a.wav|c.wav|stopMedia="));
}

void tst_SoundActions::recordingRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("warning"); // {PATH}: the path as written, {USER}: the user folder
    const QString outside = QStringLiteral("not recorded, the file must lie in the user folder: {PATH}");
    QTest::newRow("up and out of the user folder") << "..\\outside.wav" << outside;
    QTest::newRow("absolute path elsewhere") << "{OTHER}/elsewhere.wav" << outside;
    QTest::newRow("through the user folder and out") << "USERPATH\\..\\outside.wav" << outside;
    QTest::newRow("the user folder itself") << "USERPATH" << outside;
    QTest::newRow("a folder where the file would go") << "taken"
                                                      << "cannot write {USER}/taken";
    QTest::newRow("link out of the user folder") << "link/out.wav" << outside;
}

void tst_SoundActions::recordingRefused()
{
    QFETCH(QString, path);
    QFETCH(QString, warning);
    QTemporaryDir other;
    path.replace(QStringLiteral("{OTHER}"), other.path());
    warning.replace(QStringLiteral("{PATH}"), path).replace(QStringLiteral("{USER}"), m_user->path());
    QDir(m_user->path()).mkdir(QStringLiteral("taken"));
    QFile::link(other.path(), user(QStringLiteral("link")));
    const auto root = buildRegistered(call("RecordSound", path + QStringLiteral("|5")));
    root->prio = CLICK;
    LogCapture log;
    root->execute();
    // Nothing recorded anywhere, and the script is an ordinary click script again.
    QCOMPARE(root->prio.load(), CLICK);
    QCOMPARE(QDir(other.path()).entryList(QDir::Files), QStringList());
    QVERIFY(!QFile::exists(m_user->path() + QStringLiteral("/../outside.wav")));
    QVERIFY(QFileInfo(user(QStringLiteral("taken"))).isDir());
    // Refused for its path, before any device is looked for, with or without a microphone.
    QCOMPARE(log.startingWith(QStringLiteral("[LIB] RecordSound: ")),
        QStringList { QStringLiteral("[LIB] RecordSound: ") + warning });
}

void tst_SoundActions::recording()
{
    KEST_REQUIRE_SOUND_SERVER();
    const QString path = user(QStringLiteral("rec/voice.wav"));
    writeFile(path, "earlier recording");
    const auto root = buildRegistered(call("RecordSound", QStringLiteral("rec\\voice.wav|0")));
    root->prio = CLICK;
    LogCapture log;
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(root->prio.load(), RECORD);
    // The sound server delivers in bursts: wait for half a second of sound, however long that takes.
    QTRY_VERIFY_WITH_TIMEOUT(recordingUnderWay(user(QStringLiteral("rec"))) > 44 + 16000, 30000);
    // The earlier recording stays until this one has succeeded.
    QCOMPARE(contentOf(path), QByteArray("earlier recording"));
    QVERIFY(worker->isRunning());
    emit m_app->stopRecord();
    QVERIFY(worker->wait(5000));
    QCOMPARE(root->prio.load(), CLICK);
    QCOMPARE(log.count(QStringLiteral("devicename: mic")), 1);
    QCOMPARE(headerOf(path), MonoHeader);
    QCOMPARE(QDir(user(QStringLiteral("rec"))).entryList(QDir::Files), QStringList { QStringLiteral("voice.wav") });
    // The microphone of the test's sound server is a 440 Hz tone.
    QProcess stat;
    stat.start(QStringLiteral("sox"), { path, QStringLiteral("-n"), QStringLiteral("stat") });
    QVERIFY(stat.waitForFinished(10000));
    const auto frequency = QRegularExpression(QStringLiteral("Rough\\s+frequency:\\s+(\\d+)"))
                               .match(QString::fromUtf8(stat.readAllStandardError()));
    QVERIFY2(qAbs(frequency.captured(1).toInt() - 440) < 20, qPrintable(frequency.captured(0)));
}

// Without a microphone (as on many machines) the script goes on, nothing is written, and the
// learner sees one warning. Run in a child process that reaches no sound server and no sound card.
void tst_SoundActions::recordingWithoutMicrophone()
{
    if (!qEnvironmentVariableIsSet("KEST_TEST_NO_MICROPHONE")) {
        QTemporaryDir nowhere;
        writeFile(nowhere.filePath(QStringLiteral("client.conf")), "autospawn = no\n");
        writeFile(nowhere.filePath(QStringLiteral("alsa.conf")), "");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KEST_TEST_NO_MICROPHONE"), QStringLiteral("1"));
        environment.insert(
            QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + nowhere.filePath(QStringLiteral("none")));
        environment.insert(QStringLiteral("PULSE_CLIENTCONFIG"), nowhere.filePath(QStringLiteral("client.conf")));
        environment.insert(QStringLiteral("ALSA_CONFIG_PATH"), nowhere.filePath(QStringLiteral("alsa.conf")));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("recordingWithoutMicrophone") });
        QVERIFY(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : tst_SoundActions::recordingWithoutMicrophone()"), output.constData());
        return;
    }
    const QString path = user(QStringLiteral("voice.wav"));
    writeFile(path, "earlier recording");
    const auto root
        = buildRegistered(QStringLiteral("<ActionList>") + call("RecordSound", QStringLiteral("voice.wav|0"))
            + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"));
    LogCapture log;
    const auto worker = runOnWorker(root.get());
    if (!worker->wait(30000)) {
        emit m_app->stopRecord();
        QVERIFY(worker->wait(5000));
        QFAIL("a recording began without a microphone");
    }
    QCOMPARE(TestRecord::journal(), lines("after"));
    QCOMPARE(contentOf(path), QByteArray("earlier recording"));
    QCOMPARE(QDir(m_user->path()).entryList(QDir::Files), QStringList { QStringLiteral("voice.wav") });
    QCOMPARE(log.startingWith(QStringLiteral("[LIB] RecordSound: ")).size(), 1);
}

void tst_SoundActions::recordingBesideHoverStoppedByClick()
{
    KEST_REQUIRE_SOUND_SERVER();
    QDomDocument doc;
    QVERIFY(doc.setContent(QStringLiteral("<Scripts><Code>Record<ActionList>")
        + call("RecordSound", QStringLiteral("voice.wav|0"))
        + QStringLiteral("<TestRecord>recorded</TestRecord></ActionList></Code>"
                         "<Code>Hover<TestRecord>hover</TestRecord></Code>"
                         "<Code>Click<TestRecord>click</TestRecord></Code></Scripts>")));
    BranchOwner owner;
    const QDomElement first = doc.documentElement().firstChildElement();
    kestBranchManager record(&owner, first, QStringLiteral("Record"));
    kestBranchManager hover(&owner, first.nextSiblingElement(), QStringLiteral("Hover"));
    kestBranchManager click(&owner, first.nextSiblingElement().nextSiblingElement(), QStringLiteral("Click"));

    record.run(CLICK);
    QTRY_VERIFY(statRunningObject.load() && statRunningObject.load()->prio.load() == RECORD);
    hover.run(SELECT);
    QTRY_COMPARE(TestRecord::journal(), lines("hover"));
    // The hover has come and gone, and the recording still grows.
    QVERIFY(QTest::qWaitFor([&] { return kestThread::liveCount() == 1; }, 10000));
    const qint64 before = recordingUnderWay(m_user->path());
    QTRY_VERIFY_WITH_TIMEOUT(recordingUnderWay(m_user->path()) > before + 16000, 30000);
    QVERIFY(record.isBusy());
    click.run(CLICK);
    QVERIFY(QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 10000));
    QCOMPARE(TestRecord::journal(), lines("hover|click"));
    QCOMPARE(headerOf(user(QStringLiteral("voice.wav"))), MonoHeader);
}

void tst_SoundActions::speech()
{
    KEST_REQUIRE_SOUND_SERVER();
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    QSKIP("the speech engine takes minutes to learn its voices under a sanitizer");
#endif
    writeFile(course(QStringLiteral("texts/say.txt")), "Say the name of the fruit.\nThis line is not read.\n");
    LogCapture log;
    QSignalSpy ended(m_app.get(), &kestApplication::ttsFinished);
    // The first text also waits for the engine, which takes a while to learn its voices.
    const auto fromFile
        = buildRegistered(QStringLiteral("<ActionList>") + call("PlayTextFile", QStringLiteral("texts\\say.txt"))
            + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"));
    auto worker = runOnWorker(fromFile.get());
    QVERIFY(worker->wait(120000));
    QCOMPARE(TestRecord::journal(), lines("after"));
    QCOMPARE(log.count(QStringLiteral("PlayTextFile file exists: ") + course(QStringLiteral("texts/say.txt"))), 1);
    QCOMPARE(log.startingWith(QStringLiteral("[LIB] Speech: ")), QStringList());
    QTRY_COMPARE(ended.count(), 1);

    // A name that is no file is read as it stands; a stop request that only sets the flag cuts
    // a text that takes far longer to read than the wait below allows.
    const auto longText = buildRegistered(call("PlayTextFile",
        QStringLiteral("One two three four five six seven eight nine ten eleven twelve thirteen fourteen. ")
            .repeated(4)));
    worker = runOnWorker(longText.get());
    QVERIFY(drainEvents(longText.get()));
    QVERIFY(worker->isRunning());
    longText->skipObject = true;
    QVERIFY(worker->wait(5000));
}

// Each row runs speechUnavailableChild in a process of its own: the speech engine is built once
// per process, and the process's end must not wait on a stuck speech thread.
void tst_SoundActions::speechUnavailable_data()
{
    QTest::addColumn<bool>("listening"); // a service that accepts and never answers
    QTest::addColumn<QString>("warning");

    QTest::newRow("no speech service") << false
                                       << QStringLiteral("[LIB] Speech: no text-to-speech engine, texts are not read");
    QTest::newRow("service never answers")
        << true << QStringLiteral("[LIB] Speech: the speech engine does not answer, texts are no longer read");
}

void tst_SoundActions::speechUnavailable()
{
    QFETCH(bool, listening);
    QFETCH(QString, warning);

    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("speechd.sock"));
    QLocalServer service; // the kernel accepts connections; nobody reads or answers them
    if (listening)
        QVERIFY(service.listen(socket));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SPEECHD_ADDRESS"), QStringLiteral("unix_socket:") + socket);
    env.insert(QStringLiteral("KEST_SPEECH_WARNING"), warning);
    // Only a reading that waits in vain is ended by the clock.
    env.insert(QStringLiteral("KEST_SPEECH_CLOCK_STEP"), listening ? QStringLiteral("60000") : QStringLiteral("0"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("speechUnavailableChild") });
    // Well below the half minute the end of the program once waited for the speech thread.
    const bool ended = child.waitForFinished(25000);
    const QString output = QString::fromLocal8Bit(child.readAll());
    QVERIFY2(ended && child.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("PASS   : tst_SoundActions::speechUnavailableChild()")), qPrintable(output));
}

// Two readings in a row: the first ends with one warning once the script's own deadline has
// passed (the test clock steps past it), the second at once.
void tst_SoundActions::speechUnavailableChild()
{
    const QString warning = qEnvironmentVariable("KEST_SPEECH_WARNING");
    if (warning.isEmpty())
        QSKIP("run by speechUnavailable in a process of its own");
    TestClock clock;
    LogCapture log;
    const auto first
        = buildRegistered(QStringLiteral("<ActionList>") + call("PlayTextFile", QStringLiteral("Pick the apple."))
            + QStringLiteral("<TestRecord>after</TestRecord></ActionList>"));
    auto worker = runOnWorker(first.get());
    QVERIFY(QTest::qWaitFor(
        [&] {
            clock.advance(qEnvironmentVariableIntValue("KEST_SPEECH_CLOCK_STEP"));
            return worker->isFinished();
        },
        60000));
    QCOMPARE(TestRecord::journal(), lines("after"));

    // No clock steps now: a reading that waited for a deadline again would never end.
    const auto second = buildRegistered(call("PlayTextFile", QStringLiteral("Now the pear.")));
    worker = runOnWorker(second.get());
    QVERIFY(worker->wait(30000));
    QCOMPARE(log.startingWith(QStringLiteral("[LIB] Speech: ")), QStringList { warning });
}

QTEST_MAIN(tst_SoundActions)
#include "tst_soundactions.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Sounds played by scripts through the router and the real scene offscreen, on the test's sound
// server: a script waits for its sound's end, a stop ends the wait and the sound.
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestproject.h"
#include "kestthread.h"
#include "logcapture.h"
#include "testactions.h"
#include "variablestore.h"
#include "webview.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <QtMath>
#include <QtTest>

#include <memory>

namespace {

// A 440 Hz tone as a PCM WAV file (8 kHz, 16 bit, mono).
void writeTone(const QString &path, int milliseconds)
{
    const quint32 rate = 8000;
    const quint32 samples = rate * quint32(milliseconds) / 1000;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + samples * 2);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << rate << quint32(rate * 2) << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(samples * 2);
    for (quint32 i = 0; i < samples; ++i)
        out << qint16(8000 * qSin(2 * M_PI * 440 * i / rate));
}

} // namespace

class tst_SceneSound : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void scriptWaitsForItsSound();
    void stopEndsWaitAndSound();
    void backgroundSoundDoesNotWait();

private:
    void click(const char *entity) { m_project->webView()->qmlClickedEntity(QLatin1String(entity)); }
    static bool settle() { return QTest::qWaitFor([] { return kestThread::liveCount() == 0; }, 15000); }

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<QWidget> m_host;
    QTemporaryDir m_course;
    kestProject *m_project = nullptr;
};

void tst_SceneSound::initTestCase()
{
    if (!qEnvironmentVariableIsSet("PULSE_SERVER"))
        QSKIP("needs the sound server of tools/sound-server.sh");
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    m_host = std::make_unique<QWidget>();
    m_host->resize(1600, 900);
    m_host->show();
    QVERIFY(QDir(m_course.path()).mkdir(QStringLiteral("sounds")));
    writeTone(m_course.filePath(QStringLiteral("sounds/short.wav")), 600);
    writeTone(m_course.filePath(QStringLiteral("sounds/long.wav")), 8000);
}

void tst_SceneSound::init()
{
    kestVariables::clear();
    TestRecord::clearJournal();
    m_app->setProjectPath(m_course.path() + QLatin1Char('/'));
    m_project = new kestProject(m_host.get());
    new kestCommandRouter(m_app.get(), m_project);
    QVERIFY(m_project->loadProject(QStringLiteral(KEST_TEST_DATA_DIR "/courses/sound.avx")));
    QVERIFY(settle());
    QTest::qWait(110);
}

void tst_SceneSound::cleanup()
{
    QVERIFY(kestThread::shutdownAll(10000));
    delete m_project;
    m_project = nullptr;
}

void tst_SceneSound::scriptWaitsForItsSound()
{
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    click("Short");
    QTRY_COMPARE_WITH_TIMEOUT(TestRecord::journal(), lines("short done"), 10000);
    // The scene played it to its end before the script went on.
    QVERIFY2(clock.elapsed() >= 500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(log.count(QStringLiteral("Audio player Finished!!!")), 1);
    QCOMPARE(log.startingWith(QStringLiteral("[LIB] PlaySound: Stopping my Loop! File: file:///")).size(), 1);
    QVERIFY(settle());
}

void tst_SceneSound::stopEndsWaitAndSound()
{
    LogCapture log;
    click("Long");
    QTRY_COMPARE(log.startingWith(QStringLiteral("Created a Audioplayer with id")).size(), 1);
    QTest::qWait(300);
    QElapsedTimer clock;
    clock.start();
    // Another click pre-empts the waiting script: its sound is stopped and it does not go on.
    click("Other");
    QTRY_COMPARE(TestRecord::journal(), lines("other"));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(settle());
    QCOMPARE(log.count(QStringLiteral("stop media")), 1);
    QCOMPARE(log.count(QStringLiteral("Audio player STOP!!!")), 1);
    QCOMPARE(log.count(QStringLiteral("Audio player Finished!!!")), 0);
    QCOMPARE(TestRecord::journal(), lines("other"));
}

void tst_SceneSound::backgroundSoundDoesNotWait()
{
    LogCapture log;
    click("Background");
    QTRY_COMPARE(TestRecord::journal(), lines("background goes on"));
    QVERIFY(settle());
    // Still playing after its script has ended.
    QCOMPARE(log.startingWith(QStringLiteral("Created a Audioplayer with id")).size(), 1);
    QCOMPARE(log.count(QStringLiteral("Audio player Finished!!!")), 0);
}

QTEST_MAIN(tst_SceneSound)
#include "tst_scenesound.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Media files that tests make with the tools of the test machine, and the sound server they play
// through.
#pragma once

#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

// Runs a tool to the end; false when it is missing or fails.
inline bool runTool(const QString &program, const QStringList &arguments)
{
    if (QStandardPaths::findExecutable(program).isEmpty())
        return false;
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The private sound server of the test command (CTest starts it), or none.
inline bool soundServerReachable()
{
    return runTool(QStringLiteral("pactl"), { QStringLiteral("info") });
}

// Fails the test function it stands in when no sound server answers, rather than skipping it.
#define KEST_REQUIRE_SOUND_SERVER()                                                                                    \
    do {                                                                                                               \
        if (!soundServerReachable())                                                                                   \
            QFAIL("No sound server: run the test through ctest, which starts one, or export what "                     \
                  "tools/sound-server.sh prints");                                                                     \
    } while (false)

// A 4 x 4 picture of one colour at folder/name; "" when it cannot be written.
inline QString makePicture(const QString &folder, const QString &name, const QColor &color)
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(color);
    const QString path = folder + QLatin1Char('/') + name;
    return image.save(path) ? path : QString();
}

// A 440 Hz tone of the given length (16 kHz mono WAV) at folder/name, made once; "" when sox
// cannot make it.
inline QString makeSound(const QString &folder, const QString &name, double seconds)
{
    const QString path = folder + QLatin1Char('/') + name;
    if (QFile::exists(path))
        return path;
    const bool made = runTool(QStringLiteral("sox"),
        { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
            QStringLiteral("1"), path, QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"),
            QStringLiteral("440") });
    return made ? path : QString();
}

// A Theora video of the given frames (64 x 48, 30 per second) at folder/name, made once; "" when
// GStreamer cannot make it.
inline QString makeVideo(const QString &folder, const QString &name, int frames)
{
    const QString path = folder + QLatin1Char('/') + name;
    if (QFile::exists(path))
        return path;
    const QString pipeline
        = QStringLiteral("videotestsrc num-buffers=%1 ! video/x-raw,width=64,height=48,framerate=30/1 "
                         "! theoraenc ! oggmux ! filesink location=%2")
              .arg(frames)
              .arg(path);
    return runTool(QStringLiteral("gst-launch-1.0"), pipeline.split(QLatin1Char(' ')) << QStringLiteral("-q"))
        ? path
        : QString();
}

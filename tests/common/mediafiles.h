// SPDX-License-Identifier: GPL-3.0-or-later
// Media files that tests make with the tools of the test machine.
#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

// A Theora video of the given frames (64 x 48, 30 per second) at folder/name, made once; "" when
// GStreamer cannot make it.
inline QString makeVideo(const QString &folder, const QString &name, int frames)
{
    const QString path = folder + QLatin1Char('/') + name;
    if (QFile::exists(path))
        return path;
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
    if (tool.isEmpty())
        return QString();
    const QString pipeline
        = QStringLiteral("videotestsrc num-buffers=%1 ! video/x-raw,width=64,height=48,framerate=30/1 "
                         "! theoraenc ! oggmux ! filesink location=%2")
              .arg(frames)
              .arg(path);
    QProcess process;
    process.start(tool, pipeline.split(QLatin1Char(' ')) << QStringLiteral("-q"));
    const bool made
        = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return made ? path : QString();
}

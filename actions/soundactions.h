// SPDX-License-Identifier: GPL-3.0-or-later
// Sound, speech and recording: play sound files through the scene and wait for their end, read
// texts aloud, record the microphone into a WAV file. Each blocks its script's thread while it
// waits, in a local event loop that also ends when the script is stopped.
#pragma once

#include "kestobject.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QEventLoop;
class QFile;

// File name below the course folder, optional "false" to play in the background: sends the sound
// to the scene and waits until the scene reports this very playback finished. Its commands are
// handled on this thread (the application passes them on to the GUI thread) before it goes on.
class kestPlaySound : public kestObject
{
    Q_OBJECT
public:
    kestPlaySound();
    QString execute() override;

    // The identifier of the latest playback: its URL, ";_;" and its start in milliseconds since
    // 1970. The scene hands it back when that sound has finished.
    QString playbackId() const { return m_playbackId; }

public slots:
    void qmlFinishedSound(QString id);
    // Stops every sound of the scene.
    void qmlAudioStop();

protected:
    // Plays each of the files (names below the course folder) without waiting: missing files
    // are skipped; a name that is not a sound file or a broken file ends the list.
    void playFiles(const QStringList &names);
    // The entries of a list file (below the user folder), each prefixed with the folder of the
    // list as the script wrote it. cleanLines: backslashes made "/" and lines trimmed first.
    QStringList readList(const QString &listName, bool cleanLines) const;

private:
    // A stop of the script stops the scene's sounds at once, whether this action waits or not.
    void connectStop();
    // Sends the playback of url and makes it the current one.
    void startPlayback(const QString &url);

    QString m_playbackId;
    QEventLoop *m_loop = nullptr; // the running wait's loop, on execute()'s stack
    bool m_stopConnected = false;
    // Whether the current wait's stop has been sent. Shared with the stop connection, which runs
    // on the thread that stops the script and may still run while this action goes away.
    std::shared_ptr<std::atomic<bool>> m_stopSent = std::make_shared<std::atomic<bool>>(false);
};

// List file (below the user folder) of comma-separated sound files: plays them all at once,
// without waiting, after ending any text being read aloud.
class PlayList : public kestPlaySound
{
    Q_OBJECT
public:
    PlayList();
    QString execute() override;
};

// List file: plays one of its sound files, picked at random, without waiting.
class PlayRandom : public kestPlaySound
{
    Q_OBJECT
public:
    QString execute() override;
};

// Text file below the course folder, or the text itself: reads its first line aloud and waits
// until it has been read or the script is stopped.
class PlayTextFile : public kestObject
{
    Q_OBJECT
public:
    PlayTextFile();
    QString execute() override;

private slots:
    void readingFinished(quint64 ticket);
    void stopReading();

private:
    QEventLoop *m_loop = nullptr; // the running wait's loop, on execute()'s stack
    quint64 m_ticket = 0;
};

// Output file, (unused number): records the microphone as a 16 kHz 16-bit mono WAV file until
// the script is stopped or told to stop recording. Meanwhile the script counts as a recording,
// which lets hovers run beside it. The file must lie in the user folder.
class RecordSound : public kestObject
{
    Q_OBJECT
public:
    QString execute() override;

public slots:
    void endLoop();

private:
    // The path of the recording on disk, confined to the user folder; "" when it is refused.
    static QString recordingPath(const QString &written);

    QEventLoop *m_loop = nullptr; // the running recording's loop, on execute()'s stack
};

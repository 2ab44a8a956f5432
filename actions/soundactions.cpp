// SPDX-License-Identifier: GPL-3.0-or-later
#include "soundactions.h"

#include "kestapplication.h"
#include "kestclock.h"
#include "kestcommands.h"
#include "kestlog.h"
#include "kestpaths.h"
#include "kestscheduler.h"
#include "localwait.h"
#include "speech.h"
#include "variablestore.h"

#include <QAudioDeviceInfo>
#include <QAudioInput>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTextStream>
#include <QTime>
#include <QUrl>

namespace {

const QString Separator = QStringLiteral(";_;");

void log(const QString &line)
{
    qCDebug(lcActions).noquote() << line;
}

void warn(const QString &line)
{
    qCWarning(lcActions).noquote() << line;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString basePath()
{
    kestApplication *app = kestApplication::instance();
    return app ? app->projectPath() : QString();
}

// A web server's error page saved in place of a sound has its title on the third line.
// unopened: the answer for a file that does not open.
bool isBrokenSound(const QString &path, bool unopened)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unopened;
    constexpr qint64 LongestLine = 64 * 1024;
    QByteArray line;
    for (int i = 0; i < 3 && !file.atEnd(); ++i)
        line = file.readLine(LongestLine);
    return line.contains("<title>404 Not Found</title>");
}

bool isSoundFile(const QString &path)
{
    for (const char *suffix : { ".wav", ".ogg", ".mp3" }) {
        if (path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool isInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + QLatin1Char('/')));
}

// The 44-byte header of a PCM WAV file, for the file's present size.
void writeWavHeader(QFileDevice &file, const QAudioFormat &format)
{
    const qint64 size = file.size();
    const quint32 rate = quint32(format.sampleRate());
    const quint16 channels = quint16(format.channelCount());
    const quint16 bits = quint16(format.sampleSize());
    QByteArray header;
    QDataStream out(&header, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData(format.byteOrder() == QAudioFormat::LittleEndian ? "RIFF" : "RIFX", 4);
    out << quint32(size - 8);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << channels << rate << quint32(bits * rate * channels / 8)
        << quint16(bits * channels / 8) << bits;
    out.writeRawData("data", 4);
    out << quint32(size - 44);
    file.seek(0);
    file.write(header);
}

} // namespace

kestPlaySound::kestPlaySound()
{
    if (kestApplication *app = kestApplication::instance()) {
        connect(app, &kestApplication::stopAudioSignal, this, &kestPlaySound::qmlFinishedSound);
        connect(this, &kestObject::readText, app, &kestApplication::kestReadText, Qt::QueuedConnection);
        connect(this, &kestObject::ausgabe, app, &kestApplication::kestAusgabe, Qt::QueuedConnection);
        // Direct: the command is handed on before execute() goes on, so that a wait that
        // follows cannot miss its sound.
        connect(this, &kestObject::gsSendEvent, app, &kestApplication::kestHandleEvent, Qt::DirectConnection);
    }
}

QString kestPlaySound::execute()
{
    kestObject *top = root();
    if (!passesRunTest() || !(top->prio.load() == RECORD || statScriptRunning.load()))
        return QString();
    QString name = argument(0);
    const bool background = childActionCount() >= 2 && argument(1).toLower() == QLatin1String("false");
    // Courses are written with either separator.
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString path = basePath() + name;
    const QString url = QUrl::fromLocalFile(path).toString();
    log(QStringLiteral("[LIB] PlaySound (") + url + QLatin1Char(')'));
    log(QStringLiteral("[LIB] PlaySound is BACKGROUND: ") + boolText(background));
    if (isBrokenSound(path, true)) {
        warn(QStringLiteral("[LIB] PlaySound MP3 is BROKEN! : ") + name);
        return QString();
    }

    connectStop();
    *m_stopSent = false;
    startPlayback(url);
    if (background)
        return QString();

    QEventLoop loop;
    m_loop = &loop;
    connect(top, &kestObject::loopStop, &loop, &QEventLoop::quit);
    const bool stopped = kestWaitLocally(loop, this);
    m_loop = nullptr;
    // A stop that came as nothing but the root's flag has not stopped the sound yet. The flag
    // may be seen here before the stop signal's handler runs: whichever comes first sends.
    if (stopped && !m_stopSent->exchange(true))
        emit gsSendEvent(kestCommand::StopMedia, QString());
    return QString();
}

void kestPlaySound::connectStop()
{
    if (m_stopConnected)
        return;
    m_stopConnected = true;
    // Direct, like the commands: the stop often comes from another thread while this one is
    // not in an event loop. The functor touches nothing of this action, and it posts the
    // command, since stop senders may hold the scheduler lock, even on the GUI thread.
    connect(
        root(), &kestObject::loopStop, this,
        [sent = m_stopSent] {
            if (sent->exchange(true))
                return;
            if (kestApplication *app = kestApplication::instance())
                QMetaObject::invokeMethod(
                    app, [app] { app->kestHandleEvent(kestCommand::StopMedia, QString()); }, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
}

void kestPlaySound::startPlayback(const QString &url)
{
    m_playbackId = url + Separator + QString::number(QDateTime::currentMSecsSinceEpoch());
    emit gsSendEvent(kestCommand::PlayAudio, m_playbackId);
}

void kestPlaySound::qmlFinishedSound(QString id)
{
    log(QStringLiteral("qmlFinishedSound received: ") + id);
    if (id != m_playbackId)
        return;
    log(QStringLiteral("[LIB] PlaySound: Stopping my Loop! File: ") + id);
    if (m_loop)
        m_loop->quit();
}

void kestPlaySound::qmlAudioStop()
{
    *m_stopSent = true;
    emit gsSendEvent(kestCommand::StopMedia, QString());
}

void kestPlaySound::playFiles(const QStringList &names)
{
    const QString base = basePath();
    for (const QString &name : names) {
        if (!passesSkipTest()) {
            log(QStringLiteral("PlaySound skip object!"));
            continue;
        }
        QString path = base + name;
        path.replace(QLatin1String("\\\\"), QLatin1String("/"));
        path.replace(QLatin1Char('\\'), QLatin1Char('/'));
        path.replace(QLatin1String("//"), QLatin1String("/"));
        path = path.trimmed();
        if (!isSoundFile(path)) {
            if (!path.isEmpty())
                return;
            continue;
        }
        QString url = path.contains(QLatin1String("://KestResources"))
            ? QString(path).replace(QLatin1String("://"), QLatin1String("qrc:/"))
            : QUrl::fromLocalFile(path).toString();
        if (!QFile::exists(path)) {
            warn(QStringLiteral("File doesn\u00b4t exists ") + path);
            continue;
        }
        if (!QUrl(url).isValid())
            return;
        if (isBrokenSound(path, false)) {
            warn(QStringLiteral("[LIB] PlaySound MP3 is BROKEN! : ") + url);
            return;
        }
        // A later stop of the script silences the list.
        connectStop();
        startPlayback(url);
    }
}

QStringList kestPlaySound::readList(const QString &listName, bool cleanLines) const
{
    const QString listPath = kestVariables::resolveUserPath(listName);
    const int folderEnd = listName.lastIndexOf(QLatin1Char('\\'));
    const QString folder = folderEnd >= 0 ? listName.left(folderEnd + 1) : QString();
    QFile file(listPath);
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        warn(QStringLiteral("[LIB] PlaySound: cannot open the list ") + listPath);
        return QStringList();
    }
    QStringList entries;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    while (!stream.atEnd()) {
        QString line = stream.readLine();
        if (cleanLines) {
            line.replace(QLatin1String("\\\\"), QLatin1String("/"));
            line.replace(QLatin1Char('\\'), QLatin1Char('/'));
            line = line.trimmed();
        }
        for (const QString &part : line.split(QLatin1Char(','), QString::SkipEmptyParts))
            entries << folder + part;
    }
    return entries;
}

PlayList::PlayList()
{
    connectSpeechEnd();
}

QString PlayList::execute()
{
    if (!passesSkipTest())
        return QString();
    emit endTextToSpeech();
    playFiles(readList(argument(0), true));
    return QString();
}

QString PlayRandom::execute()
{
    if (!passesSkipTest())
        return QString();
    const QStringList entries = readList(argument(0), false);
    // Nothing to draw from: picking would divide by zero.
    if (entries.isEmpty())
        return QString();
    QRandomGenerator generator(quint32(QTime::currentTime().msec()));
    playFiles({ entries.at(int(generator.bounded(quint32(entries.size())))) });
    return QString();
}

PlayTextFile::PlayTextFile()
{
    if (kestApplication *app = kestApplication::instance())
        connect(this, &kestObject::readText, app, &kestApplication::kestReadText, Qt::QueuedConnection);
    // Building the engine takes seconds: start as soon as a script that reads aloud is built.
    if (kestSpeech *speech = kestSpeech::instance())
        speech->prepare();
}

QString PlayTextFile::execute()
{
    if (!passesSkipTest())
        return QString();
    QString name = argument(0);
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString path = basePath() + name;
    log(QStringLiteral("Say filename: ") + path);

    // A name that is not a file is the text itself.
    QString text = name;
    QFile file(path);
    if (!file.exists()) {
        log(QStringLiteral("PlayTextFile file does not exists: ") + path);
    } else if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        log(QStringLiteral("PlayTextFile file exists: ") + path);
        QTextStream stream(&file);
        stream.setCodec("UTF-8");
        text = stream.readLine();
    } else {
        log(QStringLiteral("PlayTextFile file not readable: ") + QString::number(file.bytesAvailable())
            + QLatin1Char(' ') + path);
    }

    kestSpeech *speech = kestSpeech::instance();
    if (!speech)
        return QString();
    QEventLoop loop;
    m_loop = &loop;
    // Before say(): the report of a short text may come at once.
    const auto finished = connect(speech, &kestSpeech::finished, this, &PlayTextFile::readingFinished);
    const auto stop = connect(root(), &kestObject::loopStop, this, &PlayTextFile::stopReading);
    // The deadline is the script's own: the speech thread may be stuck in the speech service.
    const qint64 deadline = speech->waitDeadline(text);
    m_ticket = speech->say(text);
    const quint64 ticket = m_ticket;
    bool late = false;
    const bool stopped = kestWaitLocally(loop, this,
        [speech, ticket, deadline, &late] { return speech->isDone(ticket) || (late = kestClock::now() >= deadline); });
    m_loop = nullptr;
    disconnect(finished);
    disconnect(stop);
    if (!speech->isDone(ticket)) {
        if (late && !stopped)
            speech->giveUp(ticket);
        else
            speech->stop(ticket);
    }
    return QString();
}

void PlayTextFile::readingFinished(quint64 ticket)
{
    if (m_loop && ticket >= m_ticket)
        m_loop->quit();
}

void PlayTextFile::stopReading()
{
    if (m_loop)
        m_loop->quit();
}

QString RecordSound::recordingPath(const QString &written)
{
    QString path = kestVariables::substituteVariables(written);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString userFolder = kestVariables::variableValue(QStringLiteral("USERPATH"));
    userFolder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (userFolder.trimmed().isEmpty() || path.trimmed().isEmpty())
        return QString();
    userFolder = QDir::cleanPath(userFolder);
    if (!QDir::isAbsolutePath(path))
        path = kestPaths::joinPath(userFolder, path);
    path = QDir::cleanPath(path);
    // Also catches "..", which cleanPath has resolved by now.
    if (!isInside(path, userFolder) || path == userFolder)
        return QString();
    return path;
}

QString RecordSound::execute()
{
    if (!passesSkipTest() || childActionCount() < 2)
        return QString();
    kestObject *top = root();
    const Prio saved = top->prio.load();
    top->prio = RECORD;
    const auto restorePrio = qScopeGuard([top, saved] { top->prio = saved; });

    const QString written = argument(0);
    argument(1).toInt();
    const QString path = recordingPath(written);
    if (path.isEmpty()) {
        warn(QStringLiteral("[LIB] RecordSound: not recorded, the file must lie in the user folder: ") + written);
        return QString();
    }
    const QString folder = QFileInfo(path).absolutePath();
    QDir().mkpath(folder);
    log(QStringLiteral("Outputfile: ") + path);
    // A link inside the user folder must not lead the recording out of it.
    const QString realUserFolder
        = QFileInfo(kestVariables::variableValue(QStringLiteral("USERPATH"))).canonicalFilePath();
    if (!isInside(QFileInfo(folder).canonicalFilePath(), realUserFolder) || QFileInfo(path).isSymLink()) {
        warn(QStringLiteral("[LIB] RecordSound: not recorded, the file must lie in the user folder: ") + written);
        return QString();
    }
    if (QFileInfo(path).isDir()) {
        warn(QStringLiteral("[LIB] RecordSound: cannot write ") + path);
        return QString();
    }

    QAudioFormat format;
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setSampleRate(16000);
    format.setSampleSize(16);
    format.setChannelCount(1);
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);

    const QList<QAudioDeviceInfo> devices = QAudioDeviceInfo::availableDevices(QAudio::AudioInput);
    QAudioDeviceInfo device = devices.isEmpty() ? QAudioDeviceInfo() : devices.first();
    const QAudioDeviceInfo systemDefault = QAudioDeviceInfo::defaultInputDevice();
    if (!systemDefault.isNull())
        device = systemDefault;
    bool micFound = false;
    for (const QAudioDeviceInfo &candidate : devices) {
        log(QStringLiteral("devicename: ") + candidate.deviceName());
        if (!micFound && candidate.deviceName() == QLatin1String("mic")) {
            device = candidate;
            micFound = true;
        }
    }
    // Checked before the file is touched: an earlier recording there stays as it was.
    if (device.isNull()) {
        warn(QStringLiteral("[LIB] RecordSound: no recording device, nothing recorded"));
        return QString();
    }
    if (!device.isFormatSupported(format)) {
        log(QStringLiteral("default format not supported try to use nearest"));
        format = device.nearestFormat(format);
        log(QStringLiteral("And now? ") + boolText(device.isFormatSupported(format)));
        log(format.codec());
        log(QString::number(format.sampleRate()));
        log(QString::number(format.sampleSize()));
        log(QString::number(format.channelCount()));
        log(QString::number(format.byteOrder()));
        log(QString::number(format.sampleType()));
    }

    // Written beside the earlier recording, which is replaced only once this one has succeeded:
    // a device that fails to start must not cost the learner what they recorded before.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        warn(QStringLiteral("[LIB] RecordSound: cannot write ") + path);
        return QString();
    }
    // Room for the header, which is written once the size is known.
    file.write(QByteArray(44, '\0'));

    QAudioInput input(device, format);
    QEventLoop loop;
    m_loop = &loop;
    connect(top, &kestObject::loopStop, &loop, &QEventLoop::quit);
    connect(top, &kestObject::recordStop, &loop, &QEventLoop::quit);
    const auto ownStop = connect(this, &kestObject::loopStop, this, &RecordSound::endLoop);
    // A device that fails would otherwise hold the script until it is stopped.
    connect(&input, &QAudioInput::stateChanged, &loop, [&input, &loop](QAudio::State state) {
        if (state == QAudio::StoppedState && input.error() != QAudio::NoError)
            loop.quit();
    });
    input.start(&file);
    if (input.error() == QAudio::NoError)
        kestWaitLocally(loop, this);
    const QAudio::Error error = input.error();
    m_loop = nullptr;
    disconnect(ownStop);
    input.stop();
    if (error != QAudio::NoError) {
        warn(QStringLiteral("[LIB] RecordSound: the recording device failed (error ") + QString::number(error)
            + QStringLiteral("), the earlier recording stays"));
        file.cancelWriting();
        return QString();
    }
    writeWavHeader(file, format);
    if (!file.commit())
        warn(QStringLiteral("[LIB] RecordSound: cannot write ") + path);
    return QString();
}

void RecordSound::endLoop()
{
    log(QStringLiteral("loop quit!"));
    if (m_loop)
        m_loop->quit();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedownloader.h"

#include "kestlog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#ifndef QT_NO_SSL
#include <QSslError>
#endif

namespace {

// One manager per thread, shared by its downloaders: it keeps the connection to the course
// server open from one file to the next, where a manager of each downloader's own would start
// a network thread and a connection for every one of a course's thousands of files. The main
// thread's manager goes with the application, another thread's when that thread finishes.
QNetworkAccessManager *sharedManager()
{
    static thread_local QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager;
        QCoreApplication *application = QCoreApplication::instance();
        if (application && application->thread() == QThread::currentThread())
            manager->setParent(application);
        else
            QObject::connect(QThread::currentThread(), &QThread::finished, manager, &QObject::deleteLater);
    }
    return manager;
}

// One thread makes the targets written in place, in the order they were asked for (a file
// system makes the files of one folder one after the other anyway). It starts with the first
// job; at the end of the program the jobs not begun are dropped (they made nothing yet).
class FileMaker
{
public:
    static FileMaker &instance()
    {
        static FileMaker maker;
        return maker;
    }

    void post(std::function<void()> job)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { work(); });
        m_jobs.push_back(std::move(job));
        m_wake.notify_one();
    }

    ~FileMaker()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.clear();
            m_stopping = true;
            m_wake.notify_one();
        }
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    FileMaker() = default;

    void work()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace

// A target being made on the file thread. The downloader waits for it and takes or removes the
// file; only when that wait runs out does the thread remove what it makes.
struct FileDownloader::Opening
{
    QByteArray path;
    std::mutex mutex;
    std::condition_variable made;
    bool done = false;
    bool abandoned = false;
    int fd = -1;
    int error = 0;

    // On the file thread.
    void make()
    {
        // Never an existing file: that may be a second name of an installed one.
        const int opened = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const int openError = errno;
        std::lock_guard<std::mutex> lock(mutex);
        if (abandoned) {
            if (opened >= 0) {
                ::close(opened);
                ::unlink(path.constData());
            }
            return;
        }
        fd = opened;
        error = opened < 0 ? openError : 0;
        done = true;
        made.notify_one();
    }
};

FileDownloader::FileDownloader(const QString &targetPath, QObject *parent)
    : QObject(parent)
    , m_manager(sharedManager())
    , m_targetPath(targetPath)
{
#ifndef QT_NO_BEARERMANAGEMENT
    connect(m_manager, &QNetworkAccessManager::networkSessionConnected, this, &FileDownloader::networkSessionConnected);
#endif
    m_stall.setSingleShot(true);
    m_stall.setInterval(StallTimeoutMs);
    // A timer of the downloader's own, gone with it: a one-shot timer per request would outlive
    // its downloader by up to WatchdogMs, and thousands of them slow every timer of the thread.
    m_watchdog.setTimerType(Qt::PreciseTimer);
    m_watchdog.setInterval(WatchdogMs);
    connect(&m_watchdog, &QTimer::timeout, this, &FileDownloader::checkProgress);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        if (!m_reply)
            return;
        qCWarning(lcNet).noquote() << QStringLiteral("No data for %1 ms from %2, giving up")
                                          .arg(m_stall.interval())
                                          .arg(m_reply->url().toDisplayString(QUrl::RemoveUserInfo));
        m_reply->abort();
    });
}

// A request still running is aborted (the manager outlives its downloaders), and the part of
// its body that arrived is removed.
FileDownloader::~FileDownloader()
{
    release();
    if (m_part.isOpen()) {
        m_part.close();
        QFile::remove(m_partPath);
    }
    dropOpening();
}

void FileDownloader::stopTimers()
{
    m_stall.stop();
    m_watchdog.stop();
}

void FileDownloader::release()
{
    stopTimers();
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
}

bool FileDownloader::download(const QUrl &url)
{
    QNetworkRequest request(url);
    // Credentials in the address go along with the first request: the network layer would
    // otherwise wait for the server's challenge and ask every file twice.
    if (!url.userName().isEmpty()) {
        const QByteArray pair
            = url.userName(QUrl::FullyDecoded).toUtf8() + ':' + url.password(QUrl::FullyDecoded).toUtf8();
        request.setRawHeader("Authorization", "Basic " + pair.toBase64());
    }
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    // Several files of a course on one connection without waiting for each answer.
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    if (m_inPlace && !m_targetPath.isEmpty() && !m_opening) {
        auto opening = std::make_shared<Opening>();
        opening->path = QFile::encodeName(m_targetPath);
        m_opening = opening;
        FileMaker::instance().post([opening] { opening->make(); });
    }
    QNetworkReply *reply = m_manager->get(request);
    m_reply = reply;
    // The network layer takes in no more than this ahead of the file: a server faster than the
    // disk would otherwise pile the whole body up in memory.
    reply->setReadBufferSize(ReadBufferBytes);
    // With an empty target path this is a probe.
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (m_targetPath.isEmpty())
            isConnected(reply);
        else
            fileDownloaded(reply);
    });
    // A redirect may only lead elsewhere on the same server: the credentials go along with it.
    connect(reply, &QNetworkReply::redirected, this, [this, reply, url](const QUrl &to) {
        const QUrl next = reply->url().resolved(to);
        if (next.scheme() == url.scheme() && next.host() == url.host() && next.port() == url.port()) {
            m_progressMark = 0;
            emit reply->redirectAllowed();
            return;
        }
        qCWarning(lcNet).noquote() << QStringLiteral("Refused a redirect to another server: ")
                + next.toDisplayString(QUrl::RemoveUserInfo);
        reply->abort();
    });
    if (!m_targetPath.isEmpty())
        connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
            if (!writeAvailable(reply))
                reply->abort();
        });
#ifndef QT_NO_SSL
    // The errors are only reported, never ignored: a course must not come from an unverified server.
    connect(reply, &QNetworkReply::sslErrors, this, [](const QList<QSslError> &errors) {
        for (const QSslError &sslError : errors)
            qCWarning(lcNet).noquote() << QStringLiteral("SSL Error: ") + sslError.errorString();
    });
#endif
    connect(reply, &QNetworkReply::downloadProgress, this, &FileDownloader::ourDownloadProgress);
    connect(reply, QOverload<QNetworkReply::NetworkError>::of(&QNetworkReply::error), this, &FileDownloader::ourError);
    m_watchdog.start();
    m_stall.start();
    return reply->error() == QNetworkReply::NoError;
}

bool FileDownloader::writeAvailable(QNetworkReply *reply)
{
    if (m_writeFailed)
        return false;
    if (reply->bytesAvailable() <= 0)
        return true;
    if (!m_part.isOpen() && !openPart()) {
        m_writeFailed = true;
        return false;
    }
    // Written as it comes, so memory does not grow with the file.
    char buffer[64 * 1024];
    while (reply->bytesAvailable() > 0) {
        const qint64 got = reply->read(buffer, sizeof buffer);
        if (got <= 0)
            break;
        if (m_part.write(buffer, got) != got) {
            m_writeFailed = true;
            return false;
        }
        m_received += got;
    }
    return true;
}

bool FileDownloader::openPart()
{
    if (m_opening) {
        const std::shared_ptr<Opening> opening = std::move(m_opening);
        std::unique_lock<std::mutex> lock(opening->mutex);
        if (!awaitOpening(opening.get(), lock))
            return false;
        if (opening->fd >= 0) {
            m_partPath = m_targetPath;
            if (m_part.open(opening->fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
                return true;
            ::close(opening->fd);
            QFile::remove(m_partPath);
            m_partPath.clear();
            return false;
        }
        if (opening->error != EEXIST)
            return false;
    }
    m_partPath = m_targetPath + QStringLiteral(".part");
    m_part.setFileName(m_partPath);
    // A file already of that name may be a second name of an installed file (a staging folder
    // links the old course's files) or a link to elsewhere: it is replaced, never written through.
    return m_part.open(QIODevice::WriteOnly | QIODevice::NewOnly)
        || (QFile::remove(m_partPath) && m_part.open(QIODevice::WriteOnly | QIODevice::NewOnly));
}

bool FileDownloader::awaitOpening(Opening *opening, std::unique_lock<std::mutex> &lock) const
{
    // Bounded like the transfer. Once a wait has run out, the file system is taken to hang and no
    // later downloader waits for it (each would freeze the window for as long again).
    static std::atomic<bool> fileThreadStuck { false };
    const auto wait
        = fileThreadStuck.load() ? std::chrono::milliseconds(0) : std::chrono::milliseconds(m_stall.interval());
    if (opening->made.wait_for(lock, wait, [opening] { return opening->done; }))
        return true;
    fileThreadStuck.store(true);
    opening->abandoned = true;
    return false;
}

void FileDownloader::dropOpening()
{
    if (!m_opening)
        return;
    const std::shared_ptr<Opening> opening = std::move(m_opening);
    // Waited for rather than left to the thread: a file made later could appear in the staging
    // folder after the installer has swapped it in (a missing optional file does not stop it).
    std::unique_lock<std::mutex> lock(opening->mutex);
    if (!awaitOpening(opening.get(), lock))
        return;
    if (opening->fd >= 0) {
        ::close(opening->fd);
        ::unlink(opening->path.constData());
    }
}

QString FileDownloader::replyFault(QNetworkReply *reply) const
{
    if (reply->error() != QNetworkReply::NoError)
        return QStringLiteral("network error %1 (%2)").arg(int(reply->error())).arg(reply->errorString());
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        return QStringLiteral("HTTP status %1").arg(status.toInt());
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != m_received)
        return QStringLiteral("%1 of %2 bytes arrived").arg(m_received).arg(length.toLongLong());
    if (m_received == 0)
        return QStringLiteral("empty body");
    return QString();
}

void FileDownloader::fileDownloaded(QNetworkReply *pReply)
{
    m_finished = true;
    stopTimers();
    m_status = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    writeAvailable(pReply);
    const QString fault = m_writeFailed ? QString() : replyFault(pReply);
    m_reply = nullptr;
    pReply->deleteLater();
    if (m_writeFailed) {
        fail(QStringLiteral("cannot write ") + (m_partPath.isEmpty() ? m_targetPath : m_partPath), true);
        return;
    }
    if (!fault.isEmpty()) {
        fail(fault, false);
        return;
    }
    // The whole body is there: it takes the target's place in one step. No sync per file: a
    // course is only swapped in after all its files arrived.
    m_part.close();
    if (m_part.error() != QFileDevice::NoError
        || (m_partPath != m_targetPath
            && std::rename(QFile::encodeName(m_partPath).constData(), QFile::encodeName(m_targetPath).constData())
                != 0)) {
        fail(QStringLiteral("cannot write ") + m_targetPath, true);
        return;
    }
    emit downloaded();
    emit finished(true);
}

void FileDownloader::fail(const QString &reason, bool writeFault)
{
    m_error = true;
    if (m_part.isOpen())
        m_part.close();
    if (!m_partPath.isEmpty())
        QFile::remove(m_partPath);
    dropOpening();
    qCWarning(lcNet).noquote() << QStringLiteral("Download of %1 failed: %2").arg(m_targetPath, reason);
    if (writeFault) {
        qCWarning(lcNet).noquote() << QStringLiteral("Read Impossible to open the file %s!\n");
        emit ausgabe(QStringLiteral("Read Impossible to open the file ") + m_targetPath);
    } else {
        emit error(QStringLiteral("Error downloading file: ") + m_targetPath);
    }
    emit downloaded();
    emit finished(false);
}

void FileDownloader::isConnected(QNetworkReply *pReply)
{
    m_finished = true;
    stopTimers();
    m_data = pReply->readAll();
    m_connected = QString::fromUtf8(m_data) == QLatin1String("success");
    m_reply = nullptr;
    pReply->deleteLater();
    emit downloaded();
    emit finished(m_connected);
}

void FileDownloader::networkSessionConnected()
{
    m_connected = true;
    emit connected();
}

void FileDownloader::ourError(QNetworkReply::NetworkError code)
{
    qCDebug(lcNet).noquote() << QStringLiteral("Error: ") + QString::number(code);
}

void FileDownloader::ourDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    m_progressSeen = true;
    // A server that trickles a few bytes now and then holds the start as long as one that stalls.
    if (bytesReceived - m_progressMark >= MinProgressBytes) {
        m_progressMark = bytesReceived;
        m_stall.start();
    }
    qCDebug(lcNet).noquote() << QStringLiteral("Download Progress: ") + QString::number(bytesReceived)
            + QLatin1Char('/') + QString::number(bytesTotal);
}

void FileDownloader::checkProgress()
{
    if (m_finished)
        return;
    if (!m_progressSeen)
        emit downloaded();
}

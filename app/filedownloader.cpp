// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedownloader.h"

#include "kestlog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QUrl>

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

} // namespace

FileDownloader::FileDownloader(const QString &targetPath, QObject *parent)
    : QObject(parent)
    , m_manager(sharedManager())
    , m_targetPath(targetPath)
{
#ifndef QT_NO_BEARERMANAGEMENT
    connect(m_manager, &QNetworkAccessManager::networkSessionConnected, this, &FileDownloader::networkSessionConnected);
#endif
}

// A request still running is aborted: the manager outlives its downloaders.
FileDownloader::~FileDownloader()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
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
    QNetworkReply *reply = m_manager->get(request);
    m_reply = reply;
    // With an empty target path this is a probe.
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (m_targetPath.isEmpty())
            isConnected(reply);
        else
            fileDownloaded(reply);
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
    QTimer::singleShot(WatchdogMs, Qt::PreciseTimer, this, &FileDownloader::checkProgress);
    return reply->error() == QNetworkReply::NoError;
}

void FileDownloader::fileDownloaded(QNetworkReply *pReply)
{
    m_finished = true;
    m_data = pReply->readAll();
    if (m_data.isEmpty()) {
        m_error = true;
        emit error(QStringLiteral("Error downloading file: ") + m_targetPath);
        emit downloaded();
        return;
    }
    pReply->deleteLater();

    if (!writeTarget()) {
        m_error = true;
        qCWarning(lcNet).noquote() << QStringLiteral("Read Impossible to open the file %s!\n");
        emit ausgabe(QStringLiteral("Read Impossible to open the file ") + m_targetPath);
    }
    emit downloaded();
}

bool FileDownloader::writeTarget()
{
    // A file that is there is replaced only by a whole new one: written aside, then renamed over
    // it. A new file is written in place (nothing to lose), without the cost of a synced rename
    // for every one of a course's thousands of files.
    if (QFileInfo::exists(m_targetPath)) {
        QSaveFile file(m_targetPath);
        return file.open(QIODevice::WriteOnly) && file.write(m_data) == m_data.size() && file.commit();
    }
    QFile file(m_targetPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(m_data) == m_data.size() && file.flush())
        return true;
    file.remove();
    return false;
}

void FileDownloader::isConnected(QNetworkReply *pReply)
{
    m_finished = true;
    m_connected = QString::fromUtf8(pReply->readAll()) == QLatin1String("success");
    pReply->deleteLater();
    emit downloaded();
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
    qCDebug(lcNet).noquote() << QStringLiteral("Download Progress: ") + QString::number(bytesReceived)
            + QLatin1Char('/') + QString::number(bytesTotal);
}

void FileDownloader::checkProgress()
{
    if (m_finished)
        return;
    if (!m_progressSeen)
        emit downloaded();
    QTimer::singleShot(WatchdogMs, Qt::PreciseTimer, this, &FileDownloader::checkProgress);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "filedownloader.h"

#include "kestlog.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

#ifndef QT_NO_SSL
#include <QSslError>
#endif

FileDownloader::FileDownloader(const QString &targetPath, QObject *parent)
    : QObject(parent)
    , m_targetPath(targetPath)
{
    if (m_targetPath.isEmpty())
        connect(&m_manager, &QNetworkAccessManager::finished, this, &FileDownloader::isConnected);
    else
        connect(&m_manager, &QNetworkAccessManager::finished, this, &FileDownloader::fileDownloaded);
#ifndef QT_NO_BEARERMANAGEMENT
    connect(&m_manager, &QNetworkAccessManager::networkSessionConnected, this, &FileDownloader::networkSessionConnected);
#endif
#ifndef QT_NO_SSL
    // The errors are only reported, never ignored: a course must not come from an unverified server.
    connect(&m_manager, &QNetworkAccessManager::sslErrors, this, [](QNetworkReply *, const QList<QSslError> &errors) {
        for (const QSslError &sslError : errors)
            qCWarning(lcNet).noquote() << QStringLiteral("SSL Error: ") + sslError.errorString();
    });
#endif
}

// Replies still running belong to the manager, which aborts them when it goes.
FileDownloader::~FileDownloader() = default;

bool FileDownloader::download(const QUrl &url)
{
    QNetworkRequest request(url);
    // Credentials in the address go along with the first request: the network layer would
    // otherwise wait for the server's challenge and ask every file twice.
    if (!url.userName().isEmpty()) {
        const QByteArray pair = url.userName(QUrl::FullyDecoded).toUtf8() + ':' + url.password(QUrl::FullyDecoded).toUtf8();
        request.setRawHeader("Authorization", "Basic " + pair.toBase64());
    }
    QNetworkReply *reply = m_manager.get(request);
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

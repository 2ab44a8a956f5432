// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

class QUrl;

// Fetches one URL with a GET and writes the body to a local file in one piece; with an empty
// target path it is a probe that only tells whether the body was "success". One request per
// object. A watchdog emits downloaded() every 2 s while no data has arrived, so that whoever
// waits for it stops waiting; the request itself goes on until the object is deleted.
class FileDownloader : public QObject
{
    Q_OBJECT
public:
    explicit FileDownloader(const QString &targetPath, QObject *parent = nullptr);
    ~FileDownloader() override;

    // Sends the GET and arms the watchdog; false when the reply already reports an error.
    bool download(const QUrl &url);

    QString targetPath() const { return m_targetPath; }
    QByteArray downloadedData() const { return m_data; }
    bool hasError() const { return m_error; }
    bool isConnectedFlag() const { return m_connected; }
    bool isFinished() const { return m_finished; }
    bool progressSeen() const { return m_progressSeen; }

    // How long the watchdog waits for data before it ends a wait, and between its repeats.
    static constexpr int WatchdogMs = 2000;

signals:
    void downloaded();
    void error(QString errorText);
    void connected();
    void ausgabe(QString text);

public slots:
    void isConnected(QNetworkReply *pReply);
    void fileDownloaded(QNetworkReply *pReply);
    void networkSessionConnected();
    void ourError(QNetworkReply::NetworkError code);
    void ourDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void checkProgress();

private:
    // Writes the body to the target path; false when it could not be written whole.
    bool writeTarget();

    QNetworkAccessManager *m_manager; // shared by the thread's downloaders, see the constructor
    QPointer<QNetworkReply> m_reply;
    QString m_targetPath;
    QByteArray m_data;
    bool m_error = false;
    bool m_connected = false;
    bool m_finished = false;
    bool m_progressSeen = false;
};

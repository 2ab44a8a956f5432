// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <mutex>

class QUrl;

// Fetches one URL with a GET and streams the body into a file beside the target path, which is
// renamed onto the target only when the whole body arrived: no network error, a 2xx status and,
// where the server sent one, exactly Content-Length bytes. With an empty target path it is a probe
// that only tells whether the body was "success". One request per object. A watchdog emits
// downloaded() every 2 s while no data has arrived, so that whoever waits for it stops waiting;
// the request itself goes on until it finishes, stalls (or trickles), or the object is deleted.
// Redirects are followed only within the same scheme and host.
class FileDownloader : public QObject
{
    Q_OBJECT
public:
    explicit FileDownloader(const QString &targetPath, QObject *parent = nullptr);
    ~FileDownloader() override;

    // Sends the GET and arms the watchdog; false when the reply already reports an error.
    bool download(const QUrl &url);
    QString targetPath() const { return m_targetPath; }
    // The body of a probe (a file's body goes to the file only).
    QByteArray downloadedData() const { return m_data; }
    bool hasError() const { return m_error; }
    bool isConnectedFlag() const { return m_connected; }
    bool isFinished() const { return m_finished; }
    bool progressSeen() const { return m_progressSeen; }
    // Bytes of the body received so far.
    qint64 received() const { return m_received; }
    // The HTTP status of the answer; 0 before one arrived.
    int httpStatus() const { return m_status; }

    // How long a transfer may go without MinProgressBytes arriving, from the request on, before
    // it fails.
    void setStallTimeout(int ms) { m_stall.setInterval(ms); }
    // For a target in a staging folder that is used only once all its files arrived: the body is
    // written straight to the target, which is made on a thread of its own while the request is on
    // its way (making a file can cost more than fetching a small one), and removed on a failure.
    // A target that exists already is replaced through a file beside it as usual. Before download().
    void setWriteInPlace(bool inPlace) { m_inPlace = inPlace; }

    // How long the watchdog waits for data before it ends a wait, and between its repeats.
    static constexpr int WatchdogMs = 2000;
    static constexpr int StallTimeoutMs = 30000;
    static constexpr int MinProgressBytes = 1024;
    static constexpr int MaxRedirects = 3;
    static constexpr qint64 ReadBufferBytes = 1024 * 1024;

signals:
    void downloaded();
    void error(QString errorText);
    void connected();
    void ausgabe(QString text);
    // Once per request, when it ended: ok when the target now holds the whole body.
    void finished(bool ok);

public slots:
    void isConnected(QNetworkReply *pReply);
    void fileDownloaded(QNetworkReply *pReply);
    void networkSessionConnected();
    void ourError(QNetworkReply::NetworkError code);
    void ourDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void checkProgress();

private:
    // Appends what the reply has to the file beside the target; false when it cannot be written.
    bool writeAvailable(QNetworkReply *reply);
    // Why the reply does not count as the whole file; empty when it does.
    QString replyFault(QNetworkReply *reply) const;
    void fail(const QString &reason, bool writeFault);
    void stopTimers();
    void release();
    // Opens the file the body goes to: the target made ahead (see setWriteInPlace) or a file
    // beside it.
    bool openPart();
    // Gives up the target made ahead and not written to, removing it.
    void dropOpening();

    struct Opening; // a target being made ahead, shared with the thread that makes it
    // Waits, under lock, until the file thread has dealt with opening; false when it does not in
    // time (the opening is then left to the thread, which removes what it makes).
    bool awaitOpening(Opening *opening, std::unique_lock<std::mutex> &lock) const;

    QNetworkAccessManager *m_manager; // shared by the thread's downloaders, see the constructor
    QPointer<QNetworkReply> m_reply;
    QString m_targetPath;
    QFile m_part; // the body on its way
    QString m_partPath; // where m_part is: beside the target, or the target itself
    std::shared_ptr<Opening> m_opening;
    QByteArray m_data;
    QTimer m_stall;
    QTimer m_watchdog; // repeats every WatchdogMs until the request finished
    qint64 m_received = 0;
    int m_status = 0;
    qint64 m_progressMark = 0; // bytes received when the stall time-out was last restarted
    bool m_error = false;
    bool m_connected = false;
    bool m_finished = false;
    bool m_progressSeen = false;
    bool m_writeFailed = false;
    bool m_inPlace = false;
};

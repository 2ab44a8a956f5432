// SPDX-License-Identifier: GPL-3.0-or-later
// An in-process HTTP peer on loopback for the faults a real server does not show on demand. It
// answers every path with one body, or serves the files of a folder; any path can be given a
// fault: a body cut short under its full Content-Length, a 503 or a 302 page, a stall after the
// headers, a connection closed in the middle of a chunked body. Answers may be held back until
// release(). A body larger than memory can be made up as it is sent.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>

class FakeHttpServer : public QTcpServer
{
public:
    enum class Fault { None, CutShort, Unavailable, Redirect, StallAfterHeaders, CloseMidBody };

    // body is sent delayMs after the request arrived (never, until release(), when delayMs is
    // negative); with trickle, the headers and the first half of the body go out after half a
    // second (the network layer reports progress at most every 100 ms) and the rest after the delay.
    explicit FakeHttpServer(QByteArray body = QByteArray(), int delayMs = 0, bool trickle = false)
        : m_body(std::move(body))
        , m_delayMs(delayMs)
        , m_trickle(trickle)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
    }

    QString url(const QString &path = QStringLiteral("/file")) const
    {
        return QStringLiteral("http://127.0.0.1:") + QString::number(serverPort()) + path;
    }
    QString host() const { return QStringLiteral("127.0.0.1:") + QString::number(serverPort()); }
    // Answers every path with size bytes of patternByte(), made up as the socket drains, so that
    // a body of any size costs this process a few megabytes.
    void setGeneratedBody(qint64 size) { m_generated = size; }
    // The byte at offset of a generated body: a pattern whose period (a prime) no chunk size of a
    // network layer or a file shares, so that a chunk lost, repeated or misplaced shows.
    static char patternByte(qint64 offset) { return pattern().at(int(offset % pattern().size())); }
    // Serves the files below root instead of the one body (404 for what is missing).
    void serveFolder(const QString &root) { m_root = root; }
    // The fault for path ("*": every path); location is where a redirect points.
    void setFault(const QString &path, Fault fault, const QString &location = QString())
    {
        m_faults.insert(path, fault);
        m_location = location;
    }
    void clearFaults() { m_faults.clear(); }
    // Sends the answers held back.
    void release()
    {
        m_released = true;
        for (const auto &send : qAsConst(m_held))
            send();
        m_held.clear();
    }
    int requestCount() const { return m_requests; }
    QStringList paths() const { return m_paths; }
    // Requests whose client had gone when the answer was due.
    int abandonedCount() const { return m_abandoned; }

private:
    void answer(QTcpSocket *socket)
    {
        QByteArray &request = m_requestsOf[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        m_requestsOf.remove(socket);
        ++m_requests;
        m_paths << path;

        int status = 200;
        QByteArray body = m_body;
        if (!m_root.isEmpty()) {
            QFile file(m_root + path);
            if (file.open(QIODevice::ReadOnly)) {
                body = file.readAll();
            } else {
                status = 404;
                body = "<!DOCTYPE HTML>\n<html><head>\n<title>404 Not Found</title></head></html>\n";
            }
        }
        const Fault fault = m_faults.value(path, m_faults.value(QStringLiteral("*"), Fault::None));
        QByteArray extra;
        if (fault == Fault::Unavailable) {
            status = 503;
            body = "<!DOCTYPE HTML>\n<html><head>\n<title>503 Service Unavailable</title></head></html>\n";
        } else if (fault == Fault::Redirect) {
            status = 302;
            body = "<!DOCTYPE HTML>\n<html><head>\n<title>302 Found</title></head></html>\n";
            extra = "Location: " + m_location.toUtf8() + "\r\n";
        }
        const QByteArray reason = status == 200 ? "OK"
            : status == 404                     ? "Not Found"
            : status == 503                     ? "Unavailable"
                                                : "Found";
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
            + "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n" + extra;
        if (fault == Fault::CloseMidBody) {
            // Half of the body as one chunk, then the connection ends without the last chunk.
            const QByteArray half = body.left(body.size() / 2);
            socket->write(head + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray::number(half.size(), 16) + "\r\n"
                + half + "\r\n");
            QTimer::singleShot(50, socket, &QTcpSocket::disconnectFromHost);
            return;
        }
        if (m_generated > 0 && status == 200 && fault == Fault::None) {
            sendGenerated(socket, head + "Content-Length: " + QByteArray::number(m_generated) + "\r\n\r\n");
            return;
        }
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
        if (fault == Fault::StallAfterHeaders) {
            socket->write(head);
            return;
        }
        if (fault == Fault::CutShort) {
            socket->write(head + body.left(body.size() / 2));
            QTimer::singleShot(50, socket, &QTcpSocket::disconnectFromHost);
            return;
        }
        int sent = 0;
        if (m_trickle && !body.isEmpty()) {
            sent = body.size() / 2;
            const QByteArray first = head + body.left(sent);
            QTimer::singleShot(500, socket, [socket, first] { socket->write(first); });
        }
        const QByteArray rest = m_trickle ? body.mid(sent) : head + body;
        const auto send = [this, socket, rest] {
            if (socket->state() != QAbstractSocket::ConnectedState)
                ++m_abandoned;
            socket->write(rest);
            socket->disconnectFromHost();
        };
        if (m_delayMs >= 0)
            QTimer::singleShot(m_delayMs, Qt::PreciseTimer, socket, send);
        else if (m_released)
            send();
        else
            m_held << [socket = QPointer<QTcpSocket>(socket), send] {
                if (socket)
                    send();
            };
    }

    static const QByteArray &pattern()
    {
        static const QByteArray bytes = [] {
            QByteArray made(65521, Qt::Uninitialized);
            for (int i = 0; i < made.size(); ++i)
                made[i] = char(i * 131 + (i >> 8));
            return made;
        }();
        return bytes;
    }

    // Writes the generated body after head, topping the socket's buffer up as it drains.
    void sendGenerated(QTcpSocket *socket, const QByteArray &head)
    {
        socket->write(head);
        const qint64 size = m_generated;
        auto sent = std::make_shared<qint64>(0);
        const auto topUp = [socket, sent, size] {
            while (*sent < size && socket->bytesToWrite() < 4 * 1024 * 1024) {
                const int offset = int(*sent % pattern().size());
                const qint64 length = std::min<qint64>(pattern().size() - offset, size - *sent);
                socket->write(pattern().constData() + offset, length);
                *sent += length;
            }
            if (*sent == size) {
                *sent = size + 1; // closed once, when the last byte is queued
                socket->disconnectFromHost();
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
        topUp();
    }

    QByteArray m_body;
    qint64 m_generated = 0;
    int m_delayMs;
    bool m_trickle;
    bool m_released = false;
    QString m_root;
    QString m_location;
    QHash<QString, Fault> m_faults;
    QHash<QTcpSocket *, QByteArray> m_requestsOf;
    QList<std::function<void()>> m_held;
    QStringList m_paths;
    int m_requests = 0;
    int m_abandoned = 0;
};

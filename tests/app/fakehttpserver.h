// SPDX-License-Identifier: GPL-3.0-or-later
// An in-process HTTP peer on loopback for the faults a real server does not show on demand:
// it answers every request after a delay, optionally sends part of the body at once.
#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class FakeHttpServer : public QTcpServer
{
public:
    // body is sent delayMs after the request arrived; with trickle, the headers and the first
    // half of the body go out after half a second (the network layer reports progress at most
    // every 100 ms) and the rest after the delay.
    explicit FakeHttpServer(QByteArray body, int delayMs = 0, bool trickle = false)
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
    int requestCount() const { return m_requests; }
    // Requests whose client had gone when the answer was due.
    int abandonedCount() const { return m_abandoned; }

private:
    void answer(QTcpSocket *socket)
    {
        m_request += socket->readAll();
        if (!m_request.contains("\r\n\r\n"))
            return;
        m_request.clear();
        ++m_requests;
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n"
                                "Content-Length: "
            + QByteArray::number(m_body.size()) + "\r\n\r\n";
        int sent = 0;
        if (m_trickle && !m_body.isEmpty()) {
            sent = m_body.size() / 2;
            const QByteArray first = head + m_body.left(sent);
            QTimer::singleShot(500, socket, [socket, first] { socket->write(first); });
        }
        const QByteArray rest = m_trickle ? m_body.mid(sent) : head + m_body;
        QTimer::singleShot(m_delayMs, Qt::PreciseTimer, socket, [this, socket, rest] {
            if (socket->state() != QAbstractSocket::ConnectedState)
                ++m_abandoned;
            socket->write(rest);
            socket->disconnectFromHost();
        });
    }

    QByteArray m_body;
    int m_delayMs;
    bool m_trickle;
    QByteArray m_request;
    int m_requests = 0;
    int m_abandoned = 0;
};

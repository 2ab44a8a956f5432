// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QSslError>
#include <QString>
#include <QStringList>

class QSslSocket;

// Sends one mail (HTML body, optional attachments) to one recipient with AUTH LOGIN, upgrading
// the connection with STARTTLS when the server offers it. Lives on the thread that calls sendMail.
//
// Ownership: the caller owns the client. sendMail blocks until the conversation is over and the
// socket is closed, then emits status() once; after that the client is idle and may be deleted
// at once or with deleteLater() (connecting status() to deleteLater() is the simplest way).
class Smtp : public QObject
{
    Q_OBJECT
public:
    // timeout (ms) bounds the connection attempt and every wait for a reply from the server.
    Smtp(const QString &user, const QString &password, const QString &host, int port = 25, int timeout = 30000,
        QObject *parent = nullptr);
    ~Smtp() override;

    // PEM file with extra certificate authorities trusted for STARTTLS, besides the system's.
    void setCaCertificatesFile(const QString &path);

    // Builds the message, connects and runs the whole conversation; returns when it is over,
    // after at most the time-out without an answer. Unexpected replies and unreadable
    // attachments show a warning box that does not block the caller.
    void sendMail(const QString &from, const QString &to, const QString &subject, const QString &body,
        const QStringList &files = QStringList());

signals:
    // "Message sent" or "Failed to send message", once per sendMail, just before it returns.
    void status(const QString &message);

private slots:
    void stateChanged(QAbstractSocket::SocketState socketState);
    void errorReceived(QAbstractSocket::SocketError socketError);
    void disconnected();
    void connected();
    void readyRead();

private:
    enum class State {
        Greeting,
        FirstHello,
        StartTls,
        Handshake,
        SecondHello,
        UserPrompt,
        PasswordPrompt,
        AuthResult,
        SenderAccepted,
        RecipientAccepted,
        DataPrompt,
        MessageAccepted,
        Finished,
    };
    enum class Outcome { Pending, Sent, Failed };

    bool buildMessage(
        const QString &from, const QString &to, const QString &subject, const QString &body, const QStringList &files);
    void handleReply(const QString &code);
    void encrypted();
    void sslErrors(const QList<QSslError> &errors);
    void send(const QByteArray &command);
    void fail(const QString &reason);
    void showWarning(const QString &text);

    QSslSocket *m_socket;
    QByteArray m_message;
    QString m_sender;
    QString m_recipient;
    QString m_response;
    QString m_user;
    QString m_password;
    QString m_host;
    QString m_caFile;
    int m_port;
    int m_timeout;
    State m_state = State::Greeting;
    Outcome m_outcome = Outcome::Pending;
    bool m_failed = false; // the socket reported an error: the connection is unusable
    bool m_over = false; // nothing more to wait for
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "smtpreplyreader.h"

#include <QAbstractSocket>
#include <QObject>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTimer>

class QSslSocket;

// Sends one mail (HTML body, optional attachments) to one recipient with AUTH LOGIN, upgrading
// the connection with STARTTLS when the server offers it. Lives on the thread that calls
// sendMail; the conversation runs from the socket's signals, so that thread goes on at once.
//
// Ownership: the caller owns the client. It emits status() once per sendMail, always after
// sendMail has returned; after that the client is idle and may be deleted at once or with
// deleteLater() (connecting status() to deleteLater() is the simplest way).
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
    // Bound on the whole conversation (ms), however the server paces its replies.
    void setTimeLimit(int ms) { m_timeLimit = ms; }

    // Builds the message and starts the conversation; returns at once.
    void sendMail(const QString &from, const QString &to, const QString &subject, const QString &body,
        const QStringList &files = QStringList());

signals:
    // "Message sent" or "Failed to send message", once per sendMail.
    void status(const QString &message);
    // Text for a warning box: an unexpected reply or an attachment that cannot be read. The
    // client shows nothing itself; the application decides how the learner sees it.
    void warning(const QString &text);

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
    // Ends the conversation and reports its outcome, once.
    void finish();

    QSslSocket *m_socket;
    SmtpReplyReader m_reader;
    QTimer m_replyTimer; // the wait for the next reply
    QTimer m_limitTimer; // the whole conversation
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
    int m_timeLimit = 60000;
    State m_state = State::Finished;
    Outcome m_outcome = Outcome::Pending;
    bool m_reported = true; // status() was emitted for the last sendMail
};

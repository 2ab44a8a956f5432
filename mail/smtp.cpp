// SPDX-License-Identifier: GPL-3.0-or-later
#include "smtp.h"

#include "kestlog.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaEnum>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

namespace {

// Header fields and envelope addresses must stay on one line, or they could add headers,
// recipients or whole commands of their own.
QString oneLine(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

// Every line break of the body (CR LF, LF or a lone CR) as one LF.
QString unifiedBreaks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

bool offersStartTls(const QString &ehloReply)
{
    const QStringList lines = ehloReply.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString keyword = line.mid(4).trimmed().section(QLatin1Char(' '), 0, 0);
        if (keyword.compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

Smtp::Smtp(const QString &user, const QString &password, const QString &host, int port, int timeout, QObject *parent)
    : QObject(parent)
    , m_socket(new QSslSocket(this))
    , m_user(user)
    , m_password(password)
    , m_host(host)
    , m_port(port)
    , m_timeout(timeout > 0 ? timeout : 30000) // a wait without bound would block the caller for good
{
    connect(m_socket, &QSslSocket::readyRead, this, &Smtp::readyRead);
    connect(m_socket, &QSslSocket::connected, this, &Smtp::connected);
    connect(m_socket, QOverload<QAbstractSocket::SocketError>::of(&QAbstractSocket::error), this, &Smtp::errorReceived);
    connect(m_socket, &QSslSocket::stateChanged, this, &Smtp::stateChanged);
    connect(m_socket, &QSslSocket::disconnected, this, &Smtp::disconnected);
    connect(m_socket, &QSslSocket::encrypted, this, &Smtp::encrypted);
    connect(m_socket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this, &Smtp::sslErrors);
}

Smtp::~Smtp() = default;

void Smtp::setCaCertificatesFile(const QString &path)
{
    m_caFile = path;
}

void Smtp::sendMail(
    const QString &from, const QString &to, const QString &subject, const QString &body, const QStringList &files)
{
    m_state = State::Greeting;
    m_outcome = Outcome::Pending;
    m_failed = false;
    m_over = false;
    m_response.clear();

    if (!buildMessage(from, to, subject, body, files)) {
        fail(QStringLiteral("unreadable attachment"));
        emit status(tr("Failed to send message"));
        return;
    }
    m_sender = oneLine(from);
    m_recipient = oneLine(to);

    m_socket->connectToHost(m_host, quint16(m_port));
    if (!m_socket->waitForConnected(m_timeout)) {
        qCDebug(lcMail).noquote() << m_socket->errorString();
        fail(QStringLiteral("no connection to %1:%2 (%3)").arg(m_host).arg(m_port).arg(m_socket->errorString()));
    }
    // Replies are handled by readyRead() while we wait; every wait is bounded by the time-out.
    while (!m_over && !m_failed) {
        if (!m_socket->waitForReadyRead(m_timeout))
            break;
    }
    if (m_outcome == Outcome::Pending) {
        fail(m_failed ? m_socket->errorString()
                      : QStringLiteral("no answer from %1 within %2 ms").arg(m_host).arg(m_timeout));
    }
    m_socket->abort();
    emit status(m_outcome == Outcome::Sent ? tr("Message sent") : tr("Failed to send message"));
}

bool Smtp::buildMessage(
    const QString &from, const QString &to, const QString &subject, const QString &body, const QStringList &files)
{
    if (files.isEmpty())
        qCDebug(lcMail).noquote() << QStringLiteral("No attachments found");
    else
        qCDebug(lcMail).noquote() << QStringLiteral("Files to be sent: ") + QString::number(files.size());

    QString head = QStringLiteral("To: ") + oneLine(to) + QLatin1Char('\n');
    head += QStringLiteral("From: ") + oneLine(from) + QLatin1Char('\n');
    head += QStringLiteral("Subject: ") + oneLine(subject) + QLatin1Char('\n');
    head += QStringLiteral("MIME-Version: 1.0\n"
                           "Content-Type: multipart/mixed; boundary=frontier\n"
                           "\n"
                           "--frontier\n"
                           "Content-Type: text/html\n"
                           "\n");
    head += unifiedBreaks(body) + QStringLiteral("\n\n");
    QByteArray text = head.toUtf8();

    for (const QString &path : files) {
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            qCDebug(lcMail).noquote() << QStringLiteral("Couldn't open the file");
            showWarning(tr("Couldn't open the file\n\n"));
            return false;
        }
        text += "--frontier\n"
                "Content-Type: application/octet-stream\n"
                "Content-Disposition: attachment; filename=";
        text += oneLine(info.fileName()).toUtf8();
        text += ";\n"
                "Content-Transfer-Encoding: base64\n"
                "\n";
        const QByteArray base64 = file.readAll().toBase64();
        for (int i = 0; i < base64.size(); i += 64) {
            text += base64.mid(i, 64);
            text += '\n';
        }
    }
    text += "--frontier--\n";

    // CR LF line ends; a line starting with a dot gets a second one, so that no line of the
    // message can end the data early and the server's removal of the first dot restores it.
    m_message.clear();
    m_message.reserve(text.size() + text.size() / 32);
    for (int start = 0; start < text.size();) {
        const int end = text.indexOf('\n', start);
        if (text.at(start) == '.')
            m_message += '.';
        m_message.append(text.constData() + start, end - start);
        m_message += "\r\n";
        start = end + 1;
    }
    return true;
}

void Smtp::stateChanged(QAbstractSocket::SocketState socketState)
{
    qCDebug(lcMail).noquote() << QStringLiteral("stateChanged ")
            + QLatin1String(QMetaEnum::fromType<QAbstractSocket::SocketState>().valueToKey(socketState));
}

void Smtp::errorReceived(QAbstractSocket::SocketError socketError)
{
    qCDebug(lcMail).noquote() << QStringLiteral("error ") + QString::number(int(socketError));
    m_failed = true;
}

void Smtp::disconnected()
{
    qCDebug(lcMail).noquote() << QStringLiteral("disconneted");
    qCDebug(lcMail).noquote() << QStringLiteral("error ") + m_socket->errorString();
}

void Smtp::connected()
{
    qCDebug(lcMail).noquote() << QStringLiteral("Connected ");
}

void Smtp::readyRead()
{
    qCDebug(lcMail).noquote() << QStringLiteral("readyRead");
    while (!m_over && m_state != State::Handshake && m_socket->canReadLine()) {
        const QString line = QString::fromUtf8(m_socket->readLine());
        m_response += line;
        // "250-" announces more lines of the same reply; they may arrive in a later packet.
        if (line.size() > 3 && line.at(3) == QLatin1Char('-'))
            continue;
        const QString code = line.left(3);
        qCDebug(lcMail).noquote() << "Server response code:" << code;
        qCDebug(lcMail).noquote() << QStringLiteral("Server response: ") + m_response;
        handleReply(code);
        m_response.clear();
    }
}

void Smtp::handleReply(const QString &code)
{
    switch (m_state) {
    case State::Greeting:
        if (code == QLatin1String("220")) {
            send("EHLO localhost");
            m_state = State::FirstHello;
            return;
        }
        break;
    case State::FirstHello:
        if (code == QLatin1String("250")) {
            if (offersStartTls(m_response)) {
                if (QSslSocket::supportsSsl()) {
                    send("STARTTLS");
                    m_state = State::StartTls;
                    return;
                }
                qCWarning(lcMail).noquote() << QStringLiteral("The server offers STARTTLS, but TLS is not available");
            }
            send("EHLO localhost");
            m_state = State::SecondHello;
            return;
        }
        break;
    case State::StartTls:
        if (code == QLatin1String("220")) {
            // Anything the server sent in the clear after its go-ahead must not pass for encrypted.
            m_socket->readAll();
            m_state = State::Handshake;
            if (!m_caFile.isEmpty()) {
                QFile file(m_caFile);
                const QList<QSslCertificate> extra = file.open(QIODevice::ReadOnly)
                    ? QSslCertificate::fromData(file.readAll(), QSsl::Pem)
                    : QList<QSslCertificate>();
                if (extra.isEmpty())
                    qCWarning(lcMail).noquote() << QStringLiteral("No CA certificates in ") + m_caFile;
                QSslConfiguration config = m_socket->sslConfiguration();
                config.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
                m_socket->setSslConfiguration(config);
            }
            m_socket->startClientEncryption();
            return;
        }
        break;
    case State::Handshake:
        break;
    case State::SecondHello:
        if (code == QLatin1String("250")) {
            qCDebug(lcMail).noquote() << QStringLiteral("Auth");
            send("AUTH LOGIN");
            m_state = State::UserPrompt;
            return;
        }
        break;
    case State::UserPrompt:
        if (code == QLatin1String("334")) {
            qCDebug(lcMail).noquote() << QStringLiteral("Username");
            send(m_user.toUtf8().toBase64());
            m_state = State::PasswordPrompt;
            return;
        }
        break;
    case State::PasswordPrompt:
        if (code == QLatin1String("334")) {
            qCDebug(lcMail).noquote() << QStringLiteral("Pass");
            send(m_password.toUtf8().toBase64());
            m_state = State::AuthResult;
            return;
        }
        break;
    case State::AuthResult:
        if (code == QLatin1String("235")) {
            const QString command = QStringLiteral("MAIL FROM:<") + m_sender + QLatin1Char('>');
            qCDebug(lcMail).noquote() << command;
            send(command.toUtf8());
            m_state = State::SenderAccepted;
            return;
        }
        break;
    case State::SenderAccepted:
        if (code == QLatin1String("250")) {
            send((QStringLiteral("RCPT TO:<") + m_recipient + QLatin1Char('>')).toUtf8());
            m_state = State::RecipientAccepted;
            return;
        }
        break;
    case State::RecipientAccepted:
        if (code == QLatin1String("250")) {
            send("DATA");
            m_state = State::DataPrompt;
            return;
        }
        break;
    case State::DataPrompt:
        if (code == QLatin1String("354")) {
            m_socket->write(m_message);
            send("\r\n.");
            m_state = State::MessageAccepted;
            return;
        }
        break;
    case State::MessageAccepted:
        if (code == QLatin1String("250")) {
            send("QUIT");
            m_outcome = Outcome::Sent;
            m_state = State::Finished;
            return;
        }
        break;
    case State::Finished:
        // The answer to QUIT: the conversation is over.
        m_over = true;
        return;
    }

    showWarning(tr("Unexpected reply from SMTP server:\n\n") + m_response);
    m_state = State::Finished;
    fail(QStringLiteral("unexpected reply: ") + m_response.trimmed());
}

void Smtp::encrypted()
{
    qCDebug(lcMail).noquote() << QStringLiteral("Encrypted");
    send("EHLO localhost");
    m_state = State::SecondHello;
}

void Smtp::sslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors)
        qCWarning(lcMail).noquote() << QStringLiteral("TLS: ") + error.errorString();
}

void Smtp::send(const QByteArray &command)
{
    m_socket->write(command + "\r\n");
    m_socket->flush();
}

void Smtp::fail(const QString &reason)
{
    m_over = true;
    if (m_outcome != Outcome::Pending)
        return;
    m_outcome = Outcome::Failed;
    qCWarning(lcMail).noquote() << QStringLiteral("Failed to send message: ") + reason;
}

void Smtp::showWarning(const QString &text)
{
    // Widgets need a QApplication; without one the warning log line has to do.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Qt Simple SMTP client"), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Modal for the user, but shown without a nested event loop: the caller goes on at once.
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "smtp.h"

#include "kestlog.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUrl>

#include <algorithm>

namespace {

// Header fields and envelope addresses must stay on one line, or they could add headers,
// recipients or whole commands of their own.
QString oneLine(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

// Every line break of the body (CR LF, LF or a lone CR) as CR LF, the line end of mail text.
QString crlfBreaks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return text;
}

bool isPlainAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    // A text that looks like an encoded word would be decoded by the reader.
    return !text.contains(QLatin1String("=?"));
}

// Text for a header as encoded words (UTF-8, Base64): each word within the 75 characters a word
// may have, split between characters, never inside one; continuation lines start with a space.
QString encodedWords(const QString &text)
{
    constexpr int MaxBytes = 45; // 60 Base64 characters + 12 of framing = 72
    QStringList words;
    QByteArray chunk;
    for (int i = 0; i < text.size();) {
        const int length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray bytes = text.mid(i, length).toUtf8();
        if (chunk.size() + bytes.size() > MaxBytes) {
            words << QStringLiteral("=?UTF-8?B?") + QString::fromLatin1(chunk.toBase64()) + QStringLiteral("?=");
            chunk.clear();
        }
        chunk += bytes;
        i += length;
    }
    if (!chunk.isEmpty() || words.isEmpty())
        words << QStringLiteral("=?UTF-8?B?") + QString::fromLatin1(chunk.toBase64()) + QStringLiteral("?=");
    return words.join(QStringLiteral("\n "));
}

QString headerText(const QString &text)
{
    return isPlainAscii(text) ? text : encodedWords(text);
}

// The mailbox of an address field written as "Name <box@host>" or as "box@host".
QString mailboxOf(const QString &field)
{
    const int open = field.lastIndexOf(QLatin1Char('<'));
    const int close = field.lastIndexOf(QLatin1Char('>'));
    return open >= 0 && close > open ? field.mid(open + 1, close - open - 1).trimmed() : field.trimmed();
}

// An address field for a header: a display name that is not plain ASCII is encoded.
QString headerAddress(const QString &field)
{
    const int open = field.lastIndexOf(QLatin1Char('<'));
    if (open <= 0 || field.indexOf(QLatin1Char('>'), open) < 0)
        return field;
    QString name = field.left(open).trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2);
    if (isPlainAscii(name))
        return field;
    return encodedWords(name) + QStringLiteral(" <") + mailboxOf(field) + QLatin1Char('>');
}

// The file name parameter of an attachment: quoted when plain ASCII, else in the extended form
// of UTF-8 bytes in percent escapes.
QByteArray fileNameParameter(const QString &name)
{
    if (isPlainAscii(name)) {
        QString quoted = name;
        quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        quoted.replace(QLatin1Char('"'), QLatin1String("\\\""));
        return "filename=\"" + quoted.toLatin1() + '"';
    }
    return "filename*=UTF-8''" + QUrl::toPercentEncoding(name, "!#$&+^`|");
}

// Base64 in lines of 76 characters, each ending with LF.
QByteArray base64Lines(const QByteArray &data, int lineLength = 76)
{
    const QByteArray base64 = data.toBase64();
    QByteArray lines;
    lines.reserve(base64.size() + base64.size() / lineLength + 1);
    for (int i = 0; i < base64.size(); i += lineLength) {
        lines += base64.mid(i, lineLength);
        lines += '\n';
    }
    return lines;
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
    , m_timeout(timeout > 0 ? timeout : 30000) // a wait without bound would never report
{
    connect(m_socket, &QSslSocket::readyRead, this, &Smtp::readyRead);
    connect(m_socket, &QSslSocket::connected, this, &Smtp::connected);
    connect(m_socket, QOverload<QAbstractSocket::SocketError>::of(&QAbstractSocket::error), this, &Smtp::errorReceived);
    connect(m_socket, &QSslSocket::stateChanged, this, &Smtp::stateChanged);
    connect(m_socket, &QSslSocket::disconnected, this, &Smtp::disconnected);
    connect(m_socket, &QSslSocket::encrypted, this, &Smtp::encrypted);
    connect(m_socket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this, &Smtp::sslErrors);

    m_replyTimer.setSingleShot(true);
    m_limitTimer.setSingleShot(true);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] {
        // After the mail was accepted only the answer to QUIT is missing: the mail is sent.
        if (m_outcome == Outcome::Pending)
            fail(QStringLiteral("no answer from %1 within %2 ms").arg(m_host).arg(m_timeout));
        finish();
    });
    connect(&m_limitTimer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("the conversation with %1 took longer than %2 ms").arg(m_host).arg(m_timeLimit));
        finish();
    });
}

Smtp::~Smtp() = default;

void Smtp::setCaCertificatesFile(const QString &path)
{
    m_caFile = path;
}

void Smtp::sendMail(
    const QString &from, const QString &to, const QString &subject, const QString &body, const QStringList &files)
{
    m_socket->abort();
    m_reader = SmtpReplyReader();
    m_state = State::Greeting;
    m_outcome = Outcome::Pending;
    m_reported = false;
    m_response.clear();

    if (!buildMessage(from, to, subject, body, files)) {
        fail(QStringLiteral("unreadable attachment"));
        finish();
        return;
    }
    m_sender = oneLine(mailboxOf(from));
    m_recipient = oneLine(mailboxOf(to));

    m_limitTimer.start(m_timeLimit);
    m_replyTimer.start(m_timeout);
    // Name lookup, connection and every reply arrive as signals: the caller's thread goes on.
    m_socket->connectToHost(m_host, quint16(m_port));
}

bool Smtp::buildMessage(
    const QString &from, const QString &to, const QString &subject, const QString &body, const QStringList &files)
{
    if (files.isEmpty())
        qCDebug(lcMail).noquote() << QStringLiteral("No attachments found");
    else
        qCDebug(lcMail).noquote() << QStringLiteral("Files to be sent: ") + QString::number(files.size());

    // The parts first: the boundary must not occur in them.
    QByteArrayList parts;
    parts << "Content-Type: text/html; charset=utf-8\n"
             "Content-Transfer-Encoding: base64\n"
             "\n"
            + base64Lines(crlfBreaks(body).toUtf8());
    for (const QString &path : files) {
        const QFileInfo info(path);
        if (path.isEmpty() || !info.exists())
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            qCDebug(lcMail).noquote() << QStringLiteral("Couldn't open the file");
            emit warning(tr("Couldn't open the file\n\n"));
            return false;
        }
        parts << "Content-Type: application/octet-stream\n"
                 "Content-Disposition: attachment; "
                + fileNameParameter(oneLine(info.fileName()))
                + "\n"
                  "Content-Transfer-Encoding: base64\n"
                  "\n"
                + base64Lines(file.readAll(), 64);
    }

    QByteArray boundary;
    do {
        boundary = "=_kest_" + QByteArray::number(QRandomGenerator::global()->generate64(), 36)
            + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    } while (std::any_of(parts.cbegin(), parts.cend(), [&](const QByteArray &part) { return part.contains(boundary); })
        || subject.contains(QString::fromLatin1(boundary)));

    QByteArray text = (QStringLiteral("To: ") + headerAddress(oneLine(to)) + QLatin1Char('\n')).toUtf8();
    text += (QStringLiteral("From: ") + headerAddress(oneLine(from)) + QLatin1Char('\n')).toUtf8();
    text += (QStringLiteral("Subject: ") + headerText(oneLine(subject)) + QLatin1Char('\n')).toUtf8();
    text += "MIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\""
        + boundary + "\"\n\n";
    for (const QByteArray &part : qAsConst(parts))
        text += "--" + boundary + '\n' + part;
    text += "--" + boundary + "--\n";

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
    if (m_reported)
        return;
    // Also how a server ends the conversation after QUIT.
    if (m_outcome == Outcome::Pending)
        fail(m_socket->errorString());
    finish();
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
    const QList<SmtpReplyReader::Reply> replies = m_reader.feed(m_socket->readAll());
    for (const SmtpReplyReader::Reply &reply : replies) {
        // After STARTTLS's go-ahead, anything sent in the clear must not pass for encrypted.
        if (m_reported || m_state == State::Handshake)
            break;
        m_response = reply.text;
        qCDebug(lcMail).noquote() << "Server response code:" << reply.code;
        qCDebug(lcMail).noquote() << QStringLiteral("Server response: ") + m_response;
        handleReply(reply.code);
        m_response.clear();
    }
    if (m_reader.error() != SmtpReplyReader::Error::None && !m_reported) {
        fail(m_reader.error() == SmtpReplyReader::Error::LineTooLong ? QStringLiteral("reply line too long")
                                                                     : QStringLiteral("reply without end"));
        finish();
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
            m_socket->readAll();
            m_reader.reset();
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
            m_replyTimer.start(m_timeout);
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
            send(".");
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
        finish();
        return;
    }

    emit warning(tr("Unexpected reply from SMTP server:\n\n") + m_response);
    fail(QStringLiteral("unexpected reply: ") + m_response.trimmed());
    finish();
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
    m_replyTimer.start(m_timeout);
}

void Smtp::fail(const QString &reason)
{
    if (m_outcome != Outcome::Pending)
        return;
    m_outcome = Outcome::Failed;
    qCWarning(lcMail).noquote() << QStringLiteral("Failed to send message: ") + reason;
}

void Smtp::finish()
{
    if (m_reported)
        return;
    m_reported = true;
    m_state = State::Finished;
    m_replyTimer.stop();
    m_limitTimer.stop();
    m_socket->abort();
    const QString text = m_outcome == Outcome::Sent ? tr("Message sent") : tr("Failed to send message");
    // Never from inside sendMail: the caller learns the outcome after sendMail has returned.
    QMetaObject::invokeMethod(
        this, [this, text] { emit status(text); }, Qt::QueuedConnection);
}

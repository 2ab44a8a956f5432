// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcapture.h"
#include "mailserver.h"
#include "smtp.h"
#include "smtpreplyreader.h"
#include "testactions.h"

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

const QString User = QStringLiteral("learner");
const QString Password = QStringLiteral("s3cret:pw");
const QString From = QStringLiteral("learner@example.org");
const QString To = QStringLiteral("teacher@example.org");

// A scripted SMTP peer on a thread of its own. replies[0] greets, replies[i] answers the i-th
// line received; "|" splits a reply into packets 200 ms apart, "<close>" hangs up, "<trickle>"
// sends one byte of a reply every 100 ms for ever, "<endless>" a thousand continuation lines,
// "<long>" a line of 10,000 bytes without end; a missing reply leaves the client waiting.
class FakeServer
{
public:
    explicit FakeServer(const QStringList &replies)
        : m_replies(replies)
    {
        // An object of a class of this program, so that a thread-sanitized build sees the queued
        // call below delivered (Qt's own classes' deliveries are invisible to it).
        struct Worker : QObject
        {
        };
        m_worker = new Worker;
        m_worker->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        m_thread.start();
        QMetaObject::invokeMethod(
            m_worker, [this] { listen(); }, Qt::BlockingQueuedConnection);
    }
    ~FakeServer()
    {
        m_thread.quit();
        m_thread.wait();
    }
    int port() const { return m_port; }
    QStringList received() const
    {
        QMutexLocker locker(&m_lock);
        return m_received;
    }

private:
    void listen()
    {
        auto *server = new QTcpServer(m_worker);
        server->listen(QHostAddress::LocalHost);
        m_port = server->serverPort();
        QObject::connect(server, &QTcpServer::newConnection, server, [this, server] {
            QTcpSocket *socket = server->nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                while (socket->canReadLine()) {
                    QMutexLocker locker(&m_lock);
                    m_received
                        << QString::fromUtf8(socket->readLine()).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
                    const int n = m_received.size();
                    locker.unlock();
                    reply(socket, n);
                }
            });
            reply(socket, 0);
        });
    }
    void reply(QTcpSocket *socket, int n)
    {
        if (n >= m_replies.size())
            return;
        if (m_replies.at(n) == QLatin1String("<close>")) {
            socket->disconnectFromHost();
            return;
        }
        if (m_replies.at(n) == QLatin1String("<trickle>")) {
            auto *timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write("2"); });
            timer->start(100);
            return;
        }
        if (m_replies.at(n) == QLatin1String("<endless>")) {
            socket->write(QByteArray("250-more\r\n").repeated(1000));
            return;
        }
        if (m_replies.at(n) == QLatin1String("<long>")) {
            socket->write(QByteArray(10000, 'x'));
            return;
        }
        const QStringList packets = m_replies.at(n).split(QLatin1Char('|'));
        for (int i = 0; i < packets.size(); ++i) {
            const QByteArray bytes = QString(packets.at(i) + QLatin1Char('\n'))
                                         .replace(QLatin1String("\n"), QLatin1String("\r\n"))
                                         .toUtf8();
            QTimer::singleShot(200 * i, socket, [socket, bytes] { socket->write(bytes); });
        }
    }

    QStringList m_replies;
    QThread m_thread;
    QObject *m_worker;
    int m_port = 0;
    mutable QMutex m_lock;
    QStringList m_received;
};

// Sends one mail and returns what status() said (it must say it exactly once, after sendMail
// has returned: the caller's thread is never held up); warning receives the warning text.
QString send(Smtp &smtp, const QString &from, const QString &to, const QString &subject, const QString &body,
    const QStringList &files = {}, QString *warning = nullptr)
{
    QSignalSpy spy(&smtp, &Smtp::status);
    QSignalSpy warnings(&smtp, &Smtp::warning);
    smtp.sendMail(from, to, subject, body, files);
    if (spy.count() != 0)
        return QStringLiteral("status before sendMail returned");
    if (!spy.wait(120000))
        return QStringLiteral("no status");
    // A second status would be queued behind the first: every event posted so far is handled.
    if (!drainEvents(&smtp))
        return QStringLiteral("events not handled");
    if (warning)
        *warning = warnings.isEmpty() ? QString() : warnings.at(0).at(0).toString();
    else if (!warnings.isEmpty())
        return QStringLiteral("warning: ") + warnings.at(0).at(0).toString();
    return spy.count() == 1 ? spy.at(0).at(0).toString() : QStringLiteral("%1 status signals").arg(spy.count());
}

// The lines of a received text, CR LF being the only line break.
QStringList crlfLines(const QByteArray &text)
{
    QStringList lines = QString::fromUtf8(text).split(QStringLiteral("\r\n"));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QByteArray partData(const QJsonObject &message, int part)
{
    return QByteArray::fromBase64(
        message[QLatin1String("parts")].toArray().at(part)[QLatin1String("data")].toString().toLatin1());
}

} // namespace

class tst_Smtp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void body_data();
    void body();
    void attachment_data();
    void attachment();
    void encodedHeaders();
    void headerInjection_data();
    void headerInjection();
    void transport_data();
    void transport();
    void serverFaults_data();
    void serverFaults();
    void replyReader_data();
    void replyReader();

private:
    std::unique_ptr<MailServer> m_plain;
    std::unique_ptr<MailServer> m_tls;
};

void tst_Smtp::initTestCase()
{
    m_plain = std::make_unique<MailServer>(User, Password);
    QVERIFY2(m_plain->port() > 0, "the aiosmtpd helper did not start (python3-aiosmtpd missing?)");
}

void tst_Smtp::body_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("lines"); // as the standard parser decodes them, joined by "|"

    QTest::newRow("html") << QStringLiteral("<p>Hello <b>world</b></p>") << QStringLiteral("<p>Hello <b>world</b></p>");
    QTest::newRow("lines starting with a dot")
        << QStringLiteral(".hello\n.\n..two\nend") << QStringLiteral(".hello|.|..two|end");
    QTest::newRow("CR LF") << QStringLiteral("one\r\ntwo") << QStringLiteral("one|two");
    QTest::newRow("lone CR, empty line") << QStringLiteral("a\rb\nc\r\n\r\nd") << QStringLiteral("a|b|c||d");
    QTest::newRow("not ASCII") << QStringLiteral("<p>Grüße, Łódź: ½ € 😀</p>")
                               << QStringLiteral("<p>Grüße, Łódź: ½ € 😀</p>");
    // A boundary that the body could name would let a course forge parts of its own.
    QTest::newRow("boundary look-alike") << QStringLiteral(
        "x\n--frontier\nContent-Type: text/plain\n\nforged\n--frontier--")
                                         << QStringLiteral(
                                                "x|--frontier|Content-Type: text/plain||forged|--frontier--");
}

void tst_Smtp::body()
{
    QFETCH(QString, body);
    QFETCH(QString, lines);

    Smtp smtp(User, Password, QStringLiteral("127.0.0.1"), m_plain->port(), 10000);
    QCOMPARE(send(smtp, From, To, QStringLiteral("Body"), body), QStringLiteral("Message sent"));

    const QList<QJsonObject> messages = m_plain->takeMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0][QLatin1String("defects")].toArray(), QJsonArray());
    const QJsonArray parts = messages[0][QLatin1String("parts")].toArray();
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0][QLatin1String("type")].toString(), QStringLiteral("text/html"));
    QCOMPARE(parts[0][QLatin1String("charset")].toString(), QStringLiteral("utf-8"));
    QCOMPARE(crlfLines(partData(messages[0], 0)).join(QLatin1Char('|')), lines);
    // Only 7-bit lines of at most 78 characters travel: no server may mangle them.
    for (const QString &line : messages[0][QLatin1String("raw")].toString().split(QStringLiteral("\r\n"))) {
        QVERIFY2(line.size() <= 78, qPrintable(line));
        QVERIFY2(std::all_of(line.cbegin(), line.cend(), [](QChar c) { return c.unicode() < 0x80; }), qPrintable(line));
    }
}

void tst_Smtp::attachment_data()
{
    QTest::addColumn<int>("size"); // -1: the path names no file
    QTest::addColumn<QString>("name"); // empty: no path at all
    QTest::addColumn<QList<int>>("lineLengths");

    QTest::newRow("100 bytes") << 100 << QStringLiteral("data.bin") << QList<int> { 64, 64, 8 };
    QTest::newRow("name not ASCII") << 3 << QStringLiteral("Übung 1 – Äpfel.wav") << QList<int> { 4 };
    QTest::newRow("quotes in the name") << 3 << QStringLiteral("say \"hi\"; now\\.txt") << QList<int> { 4 };
    QTest::newRow("missing file") << -1 << QStringLiteral("data.bin") << QList<int>();
    QTest::newRow("no attachment") << -1 << QString() << QList<int>();
}

void tst_Smtp::attachment()
{
    QFETCH(int, size);
    QFETCH(QString, name);
    QFETCH(QList<int>, lineLengths);

    QTemporaryDir dir;
    const QString path = name.isEmpty() ? QString() : dir.filePath(name);
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes += char((i * 37 + 13) % 256); // every kind of byte: NUL, CR, LF, "."
    if (size >= 0) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    Smtp smtp(User, Password, QStringLiteral("127.0.0.1"), m_plain->port(), 10000);
    QCOMPARE(send(smtp, From, To, QStringLiteral("Recording"), QStringLiteral("<p>See attachment</p>"), { path }),
        QStringLiteral("Message sent"));

    const QList<QJsonObject> messages = m_plain->takeMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0][QLatin1String("defects")].toArray(), QJsonArray());
    const QJsonArray parts = messages[0][QLatin1String("parts")].toArray();
    const QString raw = messages[0][QLatin1String("raw")].toString();
    QCOMPARE(parts[0][QLatin1String("type")].toString(), QStringLiteral("text/html"));
    if (size < 0) {
        QCOMPARE(parts.size(), 1);
        return;
    }
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[1][QLatin1String("filename")].toString(), name);
    QCOMPARE(partData(messages[0], 1), bytes);

    // The Base64 lines between the attachment's headers and the closing boundary.
    const QString encoded = raw.section(QStringLiteral("Content-Transfer-Encoding: base64\r\n\r\n"), 2)
                                .section(QStringLiteral("\r\n--"), 0, 0);
    QList<int> lengths;
    for (const QString &line : crlfLines(encoded.toLatin1()))
        lengths << line.size();
    QCOMPARE(lengths, lineLengths);
}

// Subject and display names that are not ASCII reach the reader as written; the envelope holds
// the mailbox alone.
void tst_Smtp::encodedHeaders()
{
    const QString subject = QStringLiteral("Übung 3 – Äpfel, Birnen und Pflaumen: was gehört in den Korb? 😀 Ende");
    const QString from = QStringLiteral("Zoë Łukasik <zoe@example.org>");
    const QString to = QStringLiteral("\"Teacher, Class 4\" <teacher@example.org>");

    Smtp smtp(User, Password, QStringLiteral("127.0.0.1"), m_plain->port(), 10000);
    QCOMPARE(send(smtp, from, to, subject, QStringLiteral("<p>x</p>")), QStringLiteral("Message sent"));

    const QList<QJsonObject> messages = m_plain->takeMessages();
    QCOMPARE(messages.size(), 1);
    const QJsonObject decoded = messages[0][QLatin1String("decoded")].toObject();
    QCOMPARE(decoded[QLatin1String("Subject")].toString(), subject);
    QCOMPARE(decoded[QLatin1String("From")].toString(), from);
    QCOMPARE(decoded[QLatin1String("To")].toString(), to);
    QCOMPARE(messages[0][QLatin1String("mail_from")].toString(), QStringLiteral("zoe@example.org"));
    QCOMPARE(messages[0][QLatin1String("rcpt_tos")].toArray(), QJsonArray { QStringLiteral("teacher@example.org") });
    QCOMPARE(messages[0][QLatin1String("defects")].toArray(), QJsonArray());
}

void tst_Smtp::headerInjection_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("subject");

    // A line break in an address would start a command of its own.
    const QString command = QStringLiteral(">\r\nRCPT TO:<mallory@example.org");
    QTest::newRow("subject") << From << To << QStringLiteral("Hi\r\nBcc: mallory@example.org");
    QTest::newRow("sender") << From + command << To << QStringLiteral("Hi");
    QTest::newRow("recipient") << From << To + command << QStringLiteral("Hi");
}

void tst_Smtp::headerInjection()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, subject);

    Smtp smtp(User, Password, QStringLiteral("127.0.0.1"), m_plain->port(), 10000);
    QString warning;
    const QString status = send(smtp, from, to, subject, QStringLiteral("<p>x</p>"), {}, &warning);
    // The server may refuse a mangled address; then the client reports it. Either way the
    // injected line must not become a header or a recipient.
    const QList<QJsonObject> messages = m_plain->takeMessages();
    QCOMPARE(status, messages.isEmpty() ? QStringLiteral("Failed to send message") : QStringLiteral("Message sent"));
    QCOMPARE(warning.isEmpty(), !messages.isEmpty());
    QVERIFY2(!m_plain->recipients().contains(QLatin1String("mallory")), qPrintable(m_plain->recipients()));
    for (const QJsonObject &message : messages) {
        QCOMPARE(message[QLatin1String("rcpt_tos")].toArray().size(), 1);
        QStringList names;
        for (const QJsonValue &header : message[QLatin1String("headers")].toArray())
            names << header.toArray().at(0).toString();
        QCOMPARE(names,
            QStringList({ QStringLiteral("To"), QStringLiteral("From"), QStringLiteral("Subject"),
                QStringLiteral("MIME-Version"), QStringLiteral("Content-Type") }));
    }
}
void tst_Smtp::transport_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("trustCa");
    QTest::addColumn<QString>("hellos"); // EHLO commands of the session, "+" for encrypted
    QTest::addColumn<QString>("status");

    QTest::newRow("plain: EHLO twice") << false << false << QStringLiteral("localhost localhost")
                                       << QStringLiteral("Message sent");
    QTest::newRow("STARTTLS, CA trusted")
        << true << true << QStringLiteral("localhost localhost+") << QStringLiteral("Message sent");
    QTest::newRow("STARTTLS, CA unknown") << true << false << QString() << QStringLiteral("Failed to send message");
}

void tst_Smtp::transport()
{
    QFETCH(bool, tls);
    QFETCH(bool, trustCa);
    QFETCH(QString, hellos);
    QFETCH(QString, status);

    if (tls && !m_tls) {
        m_tls = std::make_unique<MailServer>(User, Password, true);
        QVERIFY(m_tls->port() > 0);
    }
    MailServer &server = tls ? *m_tls : *m_plain;

    Smtp smtp(User, Password, QStringLiteral("127.0.0.1"), server.port(), 10000);
    if (trustCa)
        smtp.setCaCertificatesFile(server.caFile());
    QCOMPARE(send(smtp, From, To, QStringLiteral("Transport"), QStringLiteral("<p>x</p>")), status);

    const QList<QJsonObject> messages = server.takeMessages();
    QCOMPARE(messages.size(), hellos.isEmpty() ? 0 : 1);
    if (messages.isEmpty())
        return;
    QCOMPARE(messages[0][QLatin1String("login")].toString(), User);
    QCOMPARE(messages[0][QLatin1String("mail_from")].toString(), From);
    QStringList seen;
    for (const QJsonValue &hello : messages[0][QLatin1String("ehlo")].toArray())
        seen << hello[0].toString() + QLatin1String(hello[1].toBool() ? "+" : "");
    QCOMPARE(seen.join(QLatin1Char(' ')), hellos);
}

void tst_Smtp::serverFaults_data()
{
    QTest::addColumn<QStringList>("replies"); // empty: nothing listens on the port
    QTest::addColumn<int>("timeout"); // the wait for one reply
    QTest::addColumn<int>("limit"); // the whole conversation
    QTest::addColumn<bool>("attachFolder"); // an attachment that exists but cannot be read
    QTest::addColumn<QStringList>("received");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("reason"); // logged after "Failed to send message: "

    const QString ehlo = QStringLiteral("EHLO localhost");
    const QString hello = QStringLiteral("250-fake\n250 AUTH LOGIN");
    const QString noAnswer = QStringLiteral("no answer from 127.0.0.1 within 1500 ms");
    const QStringList greeted { QStringLiteral("220 fake") };
    QTest::newRow("535 after the password")
        << QStringList { QStringLiteral("220 fake"), hello, hello, QStringLiteral("334 VXNlcm5hbWU6"),
               QStringLiteral("334 UGFzc3dvcmQ6"), QStringLiteral("535 5.7.8 Authentication credentials invalid") }
        << 1500 << 60000 << false
        << QStringList { ehlo, ehlo, QStringLiteral("AUTH LOGIN"), QString::fromLatin1(User.toUtf8().toBase64()),
               QString::fromLatin1(Password.toUtf8().toBase64()) }
        << QStringLiteral("Unexpected reply from SMTP server:\n\n535 5.7.8 Authentication credentials invalid\r\n")
        << QStringLiteral("unexpected reply: 535 5.7.8 Authentication credentials invalid");
    QTest::newRow("never answers") << QStringList { QStringLiteral("<silent>") } << 1500 << 60000 << false
                                   << QStringList() << QString() << noAnswer;
    // Only the final "250 " line completes the reply: one EHLO for it, not one per packet.
    QTest::newRow("reply in two packets")
        << QStringList { QStringLiteral("220 fake"), QStringLiteral("250-fake|250 HELP") } << 1500 << 60000 << false
        << QStringList { ehlo, ehlo } << QString() << noAnswer;
    QTest::newRow("closes early") << greeted + QStringList { QStringLiteral("<close>") } << 1500 << 60000 << false
                                  << QStringList { ehlo } << QString()
                                  << QStringLiteral("The remote host closed the connection");
    QTest::newRow("refused") << QStringList() << 1500 << 60000 << false << QStringList() << QString()
                             << QStringLiteral("Connection refused");
    QTest::newRow("unreadable attachment")
        << greeted << 1500 << 60000 << true << QStringList() << QStringLiteral("Couldn't open the file\n\n")
        << QStringLiteral("unreadable attachment");
    // Bytes keep coming, a reply never completes: only the bound on the whole conversation ends it.
    QTest::newRow("trickles one byte at a time")
        << greeted + QStringList { QStringLiteral("<trickle>") } << 600000 << 3000 << false << QStringList { ehlo }
        << QString() << QStringLiteral("the conversation with 127.0.0.1 took longer than 3000 ms");
    QTest::newRow("continuation lines without end")
        << greeted + QStringList { QStringLiteral("<endless>") } << 600000 << 600000 << false << QStringList { ehlo }
        << QString() << QStringLiteral("reply without end");
    QTest::newRow("line without end") << greeted + QStringList { QStringLiteral("<long>") } << 600000 << 600000 << false
                                      << QStringList { ehlo } << QString() << QStringLiteral("reply line too long");
}

void tst_Smtp::serverFaults()
{
    QFETCH(QStringList, replies);
    QFETCH(int, timeout);
    QFETCH(int, limit);
    QFETCH(bool, attachFolder);
    QFETCH(QStringList, received);
    QFETCH(QString, warning);
    QFETCH(QString, reason);

    FakeServer server(replies.value(0) == QLatin1String("<silent>") ? QStringList() : replies);
    int port = server.port();
    if (replies.isEmpty()) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    QTemporaryDir folder;
    LogCapture log;

    Smtp smtp(User, Password, QStringLiteral("127.0.0.1"), port, timeout);
    smtp.setTimeLimit(limit);
    QString shown;
    QCOMPARE(send(smtp, From, To, QStringLiteral("Fault"), QStringLiteral("<p>x</p>"),
                 attachFolder ? QStringList { folder.path() } : QStringList(), &shown),
        QStringLiteral("Failed to send message"));
    QCOMPARE(shown, warning);
    QCOMPARE(server.received(), received);
    QCOMPARE(log.startingWith(QStringLiteral("Failed to send message: ")),
        QStringList { QStringLiteral("Failed to send message: ") + reason });
}

void tst_Smtp::replyReader_data()
{
    QTest::addColumn<QByteArrayList>("packets");
    QTest::addColumn<QString>("replies"); // code and line count of each reply, then the error
    using Chunks = QByteArrayList;

    QTest::newRow("one line") << Chunks { "220 ready\r\n" } << QStringLiteral("220/1");
    QTest::newRow("LF alone, two replies in one packet")
        << Chunks { "250 ok\n354 go on\n" } << QStringLiteral("250/1 354/1");
    QTest::newRow("multi-line reply split inside a line")
        << Chunks { "250-one\r\n25", "0-two\r", "\n250 three\r\n" } << QStringLiteral("250/3");
    QTest::newRow("incomplete line waits") << Chunks { "250 o", "k" } << QString();
    QTest::newRow("line at the bound") << Chunks { "250 " + QByteArray(SmtpReplyReader::MaxLineLength - 6, 'x')
        + "\r\n" } << QStringLiteral("250/1");
    QTest::newRow("line over the bound") << Chunks { "250 " + QByteArray(SmtpReplyReader::MaxLineLength - 5, 'x')
        + "\r\n" } << QStringLiteral("line too long");
    QTest::newRow("over the bound in small packets")
        << Chunks { QByteArray(SmtpReplyReader::MaxLineLength, 'x'), "x" } << QStringLiteral("line too long");
    QTest::newRow("lines at the bound") << Chunks { QByteArray("250-x\r\n").repeated(SmtpReplyReader::MaxLines - 1)
        + "250 x\r\n" } << QStringLiteral("250/%1").arg(SmtpReplyReader::MaxLines);
    QTest::newRow("too many lines, then nothing")
        << Chunks { QByteArray("250-x\r\n").repeated(SmtpReplyReader::MaxLines) + "250 x\r\n", "220 ok\r\n" }
        << QStringLiteral("too many lines");
}

void tst_Smtp::replyReader()
{
    QFETCH(QByteArrayList, packets);
    QFETCH(QString, replies);

    SmtpReplyReader reader;
    QStringList seen;
    for (const QByteArray &packet : packets) {
        for (const SmtpReplyReader::Reply &reply : reader.feed(packet))
            seen << reply.code + QLatin1Char('/') + QString::number(reply.text.count(QLatin1Char('\n')));
    }
    if (reader.error() == SmtpReplyReader::Error::LineTooLong)
        seen << QStringLiteral("line too long");
    if (reader.error() == SmtpReplyReader::Error::TooManyLines)
        seen << QStringLiteral("too many lines");
    QCOMPARE(seen.join(QLatin1Char(' ')), replies);
}

QTEST_GUILESS_MAIN(tst_Smtp)
#include "tst_smtp.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailserver.h"
#include "smtp.h"

#include <QtTest>

#include <QAbstractButton>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
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
const QString BoxTitle = QStringLiteral("Qt Simple SMTP client");

// A scripted SMTP peer on a thread of its own (sendMail blocks the test's thread). replies[0]
// greets, replies[i] answers the i-th line received; "|" splits a reply into packets 200 ms
// apart, "<close>" hangs up, a missing reply leaves the client waiting.
class FakeServer
{
public:
    explicit FakeServer(const QStringList &replies)
        : m_replies(replies)
    {
        m_worker = new QObject;
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

// Sends one mail and returns what status() said (it must say it exactly once).
QString send(Smtp &smtp, const QString &from, const QString &to, const QString &subject, const QString &body,
    const QStringList &files = {})
{
    QSignalSpy spy(&smtp, &Smtp::status);
    smtp.sendMail(from, to, subject, body, files);
    return spy.count() == 1 ? spy.at(0).at(0).toString() : QStringLiteral("%1 status signals").arg(spy.count());
}

// Text of the open warning box, which is then closed; empty without one.
QString takeWarningBox()
{
    QString text;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->windowTitle() == BoxTitle) {
            text += box->text();
            box->button(QMessageBox::Ok)->click();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return text;
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
    void cleanup();
    void body_data();
    void body();
    void attachment_data();
    void attachment();
    void headerInjection_data();
    void headerInjection();
    void transport_data();
    void transport();
    void serverFaults_data();
    void serverFaults();

private:
    std::unique_ptr<MailServer> m_plain;
    std::unique_ptr<MailServer> m_tls;
};

void tst_Smtp::initTestCase()
{
    m_plain = std::make_unique<MailServer>(User, Password);
    QVERIFY2(m_plain->port() > 0, "the aiosmtpd helper did not start (python3-aiosmtpd missing?)");
}

void tst_Smtp::cleanup()
{
    QCOMPARE(takeWarningBox(), QString());
}

void tst_Smtp::body_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("lines"); // as received, joined by "|"

    QTest::newRow("html") << QStringLiteral("<p>Hello <b>world</b></p>") << QStringLiteral("<p>Hello <b>world</b></p>");
    QTest::newRow("lines starting with a dot")
        << QStringLiteral(".hello\n.\n..two\nend") << QStringLiteral(".hello|.|..two|end");
    QTest::newRow("CR LF") << QStringLiteral("one\r\ntwo") << QStringLiteral("one|two");
    QTest::newRow("lone CR, empty line") << QStringLiteral("a\rb\nc\r\n\r\nd") << QStringLiteral("a|b|c||d");
}

void tst_Smtp::body()
{
    QFETCH(QString, body);
    QFETCH(QString, lines);

    Smtp smtp(User, Password, QStringLiteral("127.0.0.1"), m_plain->port(), 10000);
    QCOMPARE(send(smtp, From, To, QStringLiteral("Body"), body), QStringLiteral("Message sent"));

    const QList<QJsonObject> messages = m_plain->takeMessages();
    QCOMPARE(messages.size(), 1);
    const QJsonArray parts = messages[0][QLatin1String("parts")].toArray();
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts[0][QLatin1String("type")].toString(), QStringLiteral("text/html"));
    QCOMPARE(crlfLines(partData(messages[0], 0)).join(QLatin1Char('|')), lines);
}

void tst_Smtp::attachment_data()
{
    QTest::addColumn<int>("size"); // -1: the path names no file
    QTest::addColumn<QList<int>>("lineLengths");

    QTest::newRow("100 bytes") << 100 << QList<int> { 64, 64, 8 };
    QTest::newRow("missing file") << -1 << QList<int>();
}

void tst_Smtp::attachment()
{
    QFETCH(int, size);
    QFETCH(QList<int>, lineLengths);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
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
    const QJsonArray parts = messages[0][QLatin1String("parts")].toArray();
    const QString raw = messages[0][QLatin1String("raw")].toString();
    QVERIFY2(raw.trimmed().endsWith(QLatin1String("\r\n--frontier--")), qPrintable(raw.right(40)));
    QCOMPARE(parts[0][QLatin1String("type")].toString(), QStringLiteral("text/html"));
    if (size < 0) {
        QCOMPARE(parts.size(), 1);
        return;
    }
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[1][QLatin1String("filename")].toString(), QStringLiteral("data.bin"));
    QCOMPARE(partData(messages[0], 1), bytes);

    // The Base64 lines between the attachment's headers and the closing boundary.
    const QString encoded = raw.section(QStringLiteral("Content-Transfer-Encoding: base64\r\n\r\n"), 1)
                                .section(QStringLiteral("--frontier--"), 0, 0);
    QList<int> lengths;
    for (const QString &line : crlfLines(encoded.toLatin1()))
        lengths << line.size();
    QCOMPARE(lengths, lineLengths);
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
    const QString status = send(smtp, from, to, subject, QStringLiteral("<p>x</p>"));
    // The server may refuse a mangled address; then the client reports it. Either way the
    // injected line must not become a header or a recipient.
    const QString box = takeWarningBox();
    const QList<QJsonObject> messages = m_plain->takeMessages();
    QCOMPARE(status, messages.isEmpty() ? QStringLiteral("Failed to send message") : QStringLiteral("Message sent"));
    QCOMPARE(box.isEmpty(), !messages.isEmpty());
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
    QTest::addColumn<bool>("attachFolder"); // an attachment that exists but cannot be read
    QTest::addColumn<QStringList>("received");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("timesOut");

    const QString ehlo = QStringLiteral("EHLO localhost");
    const QString hello = QStringLiteral("250-fake\n250 AUTH LOGIN");
    QTest::newRow("535 after the password")
        << QStringList { QStringLiteral("220 fake"), hello, hello, QStringLiteral("334 VXNlcm5hbWU6"),
               QStringLiteral("334 UGFzc3dvcmQ6"), QStringLiteral("535 5.7.8 Authentication credentials invalid") }
        << false
        << QStringList { ehlo, ehlo, QStringLiteral("AUTH LOGIN"), QString::fromLatin1(User.toUtf8().toBase64()),
               QString::fromLatin1(Password.toUtf8().toBase64()) }
        << QStringLiteral("Unexpected reply from SMTP server:\n\n535 5.7.8 Authentication credentials invalid\r\n")
        << false;
    QTest::newRow("never answers") << QStringList { QStringLiteral("<silent>") } << false << QStringList() << QString()
                                   << true;
    // Only the final "250 " line completes the reply: one EHLO for it, not one per packet.
    QTest::newRow("reply in two packets")
        << QStringList { QStringLiteral("220 fake"), QStringLiteral("250-fake|250 HELP") } << false
        << QStringList { ehlo, ehlo } << QString() << true;
    QTest::newRow("closes early") << QStringList { QStringLiteral("220 fake"), QStringLiteral("<close>") } << false
                                  << QStringList { ehlo } << QString() << false;
    QTest::newRow("refused") << QStringList() << false << QStringList() << QString() << false;
    QTest::newRow("unreadable attachment") << QStringList { QStringLiteral("220 fake") } << true << QStringList()
                                           << QStringLiteral("Couldn't open the file\n\n") << false;
}

void tst_Smtp::serverFaults()
{
    QFETCH(QStringList, replies);
    QFETCH(bool, attachFolder);
    QFETCH(QStringList, received);
    QFETCH(QString, box);
    QFETCH(bool, timesOut);

    const int timeout = 1500;
    FakeServer server(replies.value(0) == QLatin1String("<silent>") ? QStringList() : replies);
    int port = server.port();
    if (replies.isEmpty()) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    QTemporaryDir folder;

    Smtp smtp(User, Password, QStringLiteral("127.0.0.1"), port, timeout);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(send(smtp, From, To, QStringLiteral("Fault"), QStringLiteral("<p>x</p>"),
                 attachFolder ? QStringList { folder.path() } : QStringList()),
        QStringLiteral("Failed to send message"));
    const qint64 elapsed = clock.elapsed();

    QCOMPARE(takeWarningBox(), box);
    QCOMPARE(server.received(), received);
    QVERIFY2(timesOut ? elapsed >= timeout - 100 && elapsed < 3 * timeout : elapsed < timeout,
        qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
}

QTEST_MAIN(tst_Smtp)
#include "tst_smtp.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "deployment.h"
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestobject.h"
#include "kestproject.h"
#include "kestscheduler.h"
#include "logcapture.h"
#include "mailserver.h"
#include "testactions.h"
#include "variablestore.h"

#include <QApplication>
#include <QJsonArray>
#include <QMessageBox>
#include <QTcpServer>
#include <QThread>
#include <QWidget>
#include <QtTest>

#include <memory>

// A course's SendMail goes through the router to a mail server, once, whole, while the GUI
// thread goes on; a failure reaches the router's listeners and opens no box of its own.
class tst_SendMail : public QObject
{
    Q_OBJECT
private slots:
    void scriptSendsMail_data();
    void scriptSendsMail();
};

void tst_SendMail::scriptSendsMail_data()
{
    QTest::addColumn<QString>("server"); // "aiosmtpd", "refusing" or "silent"
    QTest::addColumn<QString>("attachment"); // the action's last argument
    QTest::addColumn<int>("parts"); // parts of the mail received, 0 for none
    QTest::addColumn<QString>("warning"); // logged for the mail, after "Failed to send message" or "[LIB] SendMail"

    QTest::newRow("recording attached") << QStringLiteral("aiosmtpd")
                                        << QStringLiteral("<Text>USERPATH\\recording.wav</Text>") << 2 << QString();
    QTest::newRow("no attachment") << QStringLiteral("aiosmtpd") << QStringLiteral("<Null/>") << 1 << QString();
    QTest::newRow("attachment outside the user folder")
        << QStringLiteral("aiosmtpd") << QStringLiteral("<Text>..\\contract.docx</Text>") << 0
        << QStringLiteral("[LIB] SendMail: the attachment lies outside the user folder, nothing is sent: ");
    QTest::newRow("connection refused") << QStringLiteral("refusing") << QStringLiteral("<Null/>") << 0
                                        << QStringLiteral("Failed to send message: Connection refused");
    QTest::newRow("server never answers") << QStringLiteral("silent") << QStringLiteral("<Null/>") << 0
                                          << QStringLiteral("Failed to send message: no answer from 127.0.0.1");
}

void tst_SendMail::scriptSendsMail()
{
    QFETCH(QString, server);
    QFETCH(QString, attachment);
    QFETCH(int, parts);
    QFETCH(QString, warning);

    kestApplication app;
    registerTestActions();
    QWidget host;
    auto *project = new kestProject(&host);
    auto *router = new kestCommandRouter(&app, project);
    router->setMailTimeouts(1500, 60000);

    std::unique_ptr<MailServer> mail;
    QTcpServer silent; // accepts and never answers
    kestDeployment deployment = kestDeployment::current();
    if (server == QLatin1String("aiosmtpd")) {
        mail = std::make_unique<MailServer>(QStringLiteral("learner"), QStringLiteral("pw"));
        QVERIFY(mail->port() > 0);
        deployment.smtpPort = mail->port();
    } else {
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        deployment.smtpPort = silent.serverPort();
        if (server == QLatin1String("refusing"))
            silent.close();
    }
    kestDeployment::setCurrent(deployment);

    QTemporaryDir base;
    const QString userFolder = base.filePath(QStringLiteral("user"));
    QVERIFY(QDir().mkpath(userFolder));
    kestVariables::assignVariable(QStringLiteral("USERPATH"), userFolder + QLatin1Char('/'));
    kestVariables::assignVariable(QStringLiteral("VarLearnerMail"), QStringLiteral("anna@school.test"));
    kestVariables::assignVariable(QStringLiteral("VarTeacherMail"), QStringLiteral("teacher@school.test"));
    kestVariables::assignVariable(QStringLiteral("VarLearnerName"), QStringLiteral("Anna"));
    kestVariables::assignVariable(QStringLiteral("Subject"), QStringLiteral("My work\r\nBcc: mallory@evil.test"));
    QByteArray bytes;
    for (int i = 0; i < 300; ++i)
        bytes += char(i * 7);
    for (const QString &path :
        { base.filePath(QStringLiteral("user/recording.wav")), base.filePath(QStringLiteral("contract.docx")) }) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    LogCapture log;
    QStringList statuses;
    // When the outcome arrives, both of the router's "Send Mail" lines are written: handing the
    // mail over did not wait for its delivery.
    connect(router, &kestCommandRouter::mailStatus, this, [&](const QString &status) {
        statuses << status + QStringLiteral(" after ") + QString::number(log.count(QStringLiteral("Send Mail")));
    });
    const auto root = buildBody(
        QStringLiteral(
            "<SendMail><Text>127.0.0.1</Text><Text>learner</Text><Text>pw</Text><Null/><Null/><Text>Subject</Text>"
            "<Text>first line\n.hello\n.\nlast line</Text>")
        + attachment + QStringLiteral("</SendMail>"));
    // The action runs on a worker, as in a course; its command reaches the router queued.
    std::unique_ptr<QThread> worker(QThread::create([&root] { root->execute(); }));
    worker->start();
    QVERIFY(worker->wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!statuses.isEmpty(), 60000);

    const int lines = warning.startsWith(QLatin1String("[LIB]")) ? 1 : 2; // a refused attachment
    QCOMPARE(statuses,
        QStringList {
            (parts ? QStringLiteral("Message sent after %1") : QStringLiteral("Failed to send message after %1"))
                .arg(lines) });
    QStringList warnings = log.startingWith(QStringLiteral("Failed to send message"))
        + log.startingWith(QStringLiteral("[LIB] SendMail"));
    QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
    if (!warning.isEmpty())
        QVERIFY2(warnings.first().startsWith(warning), qPrintable(warnings.first()));
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<QMessageBox *>(widget));
    if (!mail)
        return;

    // The client reports after the server's answer to the whole mail: it is stored by now.
    const QList<QJsonObject> messages = mail->takeMessages();
    QCOMPARE(messages.size(), parts ? 1 : 0);
    if (!parts)
        return;
    const QJsonObject message = messages.first();
    QCOMPARE(message[QLatin1String("rcpt_tos")].toArray(), QJsonArray { QStringLiteral("teacher@school.test") });
    QStringList subjects;
    for (const QJsonValue &header : message[QLatin1String("headers")].toArray()) {
        QVERIFY(header.toArray().at(0).toString() != QLatin1String("Bcc"));
        if (header.toArray().at(0).toString() == QLatin1String("Subject"))
            subjects << header.toArray().at(1).toString();
    }
    QCOMPARE(subjects, QStringList { QStringLiteral("My workBcc: mallory@evil.test") });
    const QJsonArray received = message[QLatin1String("parts")].toArray();
    QCOMPARE(received.size(), parts);
    const QString body
        = QString::fromUtf8(QByteArray::fromBase64(received[0][QLatin1String("data")].toString().toLatin1()));
    QCOMPARE(body.split(QStringLiteral("\r\n")).mid(0, 4),
        QStringList({ QStringLiteral("Anna : Mobile Version --> first line"), QStringLiteral(".hello"),
            QStringLiteral("."), QStringLiteral("last line") }));
    if (parts == 2)
        QCOMPARE(QByteArray::fromBase64(received[1][QLatin1String("data")].toString().toLatin1()), bytes);
}

QTEST_MAIN(tst_SendMail)
#include "tst_sendmail.moc"

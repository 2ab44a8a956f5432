// SPDX-License-Identifier: GPL-3.0-or-later
#include "deployment.h"
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestobject.h"
#include "kestproject.h"
#include "kestscheduler.h"
#include "mailserver.h"
#include "testactions.h"
#include "variablestore.h"

#include <QJsonArray>
#include <QThread>
#include <QWidget>
#include <QtTest>

#include <memory>

// A course's SendMail reaches a real mail server through the router, once, whole.
class tst_SendMail : public QObject
{
    Q_OBJECT
private slots:
    void scriptDeliversOneMail();
};

void tst_SendMail::scriptDeliversOneMail()
{
    kestApplication app;
    registerTestActions();
    QWidget host;
    auto *project = new kestProject(&host);
    new kestCommandRouter(&app, project);

    MailServer server(QStringLiteral("learner"), QStringLiteral("pw"));
    QVERIFY(server.port() > 0);
    kestDeployment deployment = kestDeployment::current();
    deployment.smtpPort = server.port();
    kestDeployment::setCurrent(deployment);

    QTemporaryDir user;
    kestVariables::assignVariable(QStringLiteral("USERPATH"), user.path() + QLatin1Char('/'));
    kestVariables::assignVariable(QStringLiteral("VarLearnerMail"), QStringLiteral("anna@school.test"));
    kestVariables::assignVariable(QStringLiteral("VarTeacherMail"), QStringLiteral("teacher@school.test"));
    kestVariables::assignVariable(QStringLiteral("VarLearnerName"), QStringLiteral("Anna"));
    kestVariables::assignVariable(QStringLiteral("Subject"), QStringLiteral("My work\r\nBcc: mallory@evil.test"));
    QByteArray attachment;
    for (int i = 0; i < 300; ++i)
        attachment += char(i * 7);
    QFile file(user.filePath(QStringLiteral("recording.wav")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(attachment) == attachment.size());
    file.close();

    const auto root = buildBody(QStringLiteral(
        "<SendMail><Text>127.0.0.1</Text><Text>learner</Text><Text>pw</Text><Null/><Null/><Text>Subject</Text>"
        "<Text>first line\n.hello\n.\nlast line</Text><Text>USERPATH\\recording.wav</Text></SendMail>"));
    // The action runs on a worker, as in a course; its command reaches the router queued.
    std::unique_ptr<QThread> worker(QThread::create([&root] { root->execute(); }));
    worker->start();
    QVERIFY(worker->wait(5000));

    QList<QJsonObject> messages;
    QTRY_VERIFY_WITH_TIMEOUT((messages += server.takeMessages(), !messages.isEmpty()), 20000);
    QTest::qWait(200); // a second delivery would have arrived by now
    messages += server.takeMessages();
    QCOMPARE(messages.size(), 1);
    const QJsonObject mail = messages.first();
    QCOMPARE(mail[QLatin1String("rcpt_tos")].toArray(), QJsonArray { QStringLiteral("teacher@school.test") });
    QStringList subjects;
    for (const QJsonValue &header : mail[QLatin1String("headers")].toArray()) {
        QVERIFY(header.toArray().at(0).toString() != QLatin1String("Bcc"));
        if (header.toArray().at(0).toString() == QLatin1String("Subject"))
            subjects << header.toArray().at(1).toString();
    }
    QCOMPARE(subjects, QStringList { QStringLiteral("My workBcc: mallory@evil.test") });
    const QJsonArray parts = mail[QLatin1String("parts")].toArray();
    QCOMPARE(parts.size(), 2);
    const QString body
        = QString::fromUtf8(QByteArray::fromBase64(parts[0][QLatin1String("data")].toString().toLatin1()));
    QCOMPARE(body.split(QStringLiteral("\r\n")).mid(0, 4),
        QStringList({ QStringLiteral("Anna : Mobile Version --> first line"), QStringLiteral(".hello"),
            QStringLiteral("."), QStringLiteral("last line") }));
    QCOMPARE(QByteArray::fromBase64(parts[1][QLatin1String("data")].toString().toLatin1()), attachment);
}

QTEST_MAIN(tst_SendMail)
#include "tst_sendmail.moc"

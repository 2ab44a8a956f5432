// SPDX-License-Identifier: GPL-3.0-or-later
// The built player as a new user meets it when the course server fails: a copy of the kestora
// executable pointing at a server that is silent or answers with something else, a fresh
// documents folder, and no course installed yet. (Its first and second start from a working
// server are rows of tst_installation.)
#include "apacheserver.h"
#include "fakehttpserver.h"
#include "playerprocess.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(FakeHttpServer::Fault)

class tst_NewUser : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void noCatalogueEndsTheStart_data();
    void noCatalogueEndsTheStart();

private:
    QTemporaryDir m_probeRoot;
    ApacheServer m_apache; // answers the probe
    QTemporaryDir m_bin;
};

void tst_NewUser::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(KEST_PLAYER_EXE)));
    QVERIFY(m_probeRoot.isValid() && m_bin.isValid());
    QVERIFY2(m_apache.start(m_probeRoot.path(), QStringLiteral("kestor"), QStringLiteral("lesson")),
        qPrintable(m_apache.errorLog()));
}

void tst_NewUser::noCatalogueEndsTheStart_data()
{
    using Fault = FakeHttpServer::Fault;
    QTest::addColumn<int>("delayMs"); // -1: the server accepts and never answers
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("silent server") << -1 << Fault::None << QByteArray();
    QTest::newRow("503 error page") << 0 << Fault::Unavailable << QByteArray();
    QTest::newRow("error page answered as a catalogue")
        << 0 << Fault::None << QByteArray("<!DOCTYPE HTML>\n<html><head>\n<title>Log in</title></head></html>\n");
}

// No catalogue and no course installed: the start ends with status 1 and says why.
void tst_NewUser::noCatalogueEndsTheStart()
{
    QFETCH(int, delayMs);
    QFETCH(FakeHttpServer::Fault, fault);
    QFETCH(QByteArray, body);
    FakeHttpServer server(body, delayMs);
    server.setFault(QStringLiteral("*"), fault);
    QTemporaryDir home;
    const QString player = PlayerProcess::install(
        m_bin.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'))),
        server.host(), m_apache.host());
    QVERIFY(!player.isEmpty());
    PlayerProcess process;
    QVERIFY(process.start(player, home.path()));
    QVERIFY(process.process()->waitForFinished(60000));
    const QString output = process.output();
    QCOMPARE(process.process()->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.process()->exitCode(), 1);
    QVERIFY2(output.contains(QLatin1String("no course is installed yet")), qPrintable(output.right(2000)));
    QVERIFY(!QFile::exists(home.path() + QStringLiteral("/Documents/Tavelo/tavelo.xml")));
}

QTEST_GUILESS_MAIN(tst_NewUser)
#include "tst_newuser.moc"

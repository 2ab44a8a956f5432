// SPDX-License-Identifier: GPL-3.0-or-later
// The deployment file beside the executable: what it overrides, and what it cannot break.
#include "deployment.h"
#include "logcapture.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// Every value by its key in the file.
QMap<QString, QString> fields(const kestDeployment &d)
{
    return { { QStringLiteral("CourseServerHost"), d.courseServerHost },
        { QStringLiteral("CatalogueUser"), d.catalogueUser },
        { QStringLiteral("CataloguePassword"), d.cataloguePassword }, { QStringLiteral("ProbeUrl"), d.probeUrl },
        { QStringLiteral("SmtpServer"), d.smtpServer }, { QStringLiteral("SmtpAccount"), d.smtpAccount },
        { QStringLiteral("SmtpPassword"), d.smtpPassword }, { QStringLiteral("SmtpMailbox"), d.smtpMailbox },
        { QStringLiteral("SmtpCaFile"), d.smtpCaFile }, { QStringLiteral("SmtpPort"), QString::number(d.smtpPort) } };
}

} // namespace

class tst_Deployment : public QObject
{
    Q_OBJECT
private slots:
    void fromFile_data();
    void fromFile();
    void systemFileUnderLocalFile();
};

void tst_Deployment::fromFile_data()
{
    QTest::addColumn<QByteArray>("ini"); // null: no file at all
    QTest::addColumn<QStringList>("changed"); // "Key=value"; every other value is the default
    QTest::addColumn<int>("warnings");

    QTest::newRow("no file") << QByteArray() << QStringList() << 0;
    QTest::newRow("another group only") << QByteArray("[General]\nSmtpPort=2525\n") << QStringList() << 0;
    QTest::newRow("partial") << QByteArray("[Deployment]\nCourseServerHost=courses.test:8081\n")
                             << QStringList { QStringLiteral("CourseServerHost=courses.test:8081") } << 0;
    QTest::newRow("cut inside a key") << QByteArray("[Deployment]\r\nSmtpServer=mail.test\r\nSmtpPa")
                                      << QStringList { QStringLiteral("SmtpServer=mail.test") } << 0;
    QTest::newRow("cut after a port's equals sign") << QByteArray("[Deployment]\nSmtpPort=") << QStringList() << 0;
    QTest::newRow("port") << QByteArray("[Deployment]\nSmtpPort= 587\n")
                          << QStringList { QStringLiteral("SmtpPort=587") } << 0;
    QTest::newRow("port that is a name") << QByteArray("[Deployment]\nSmtpPort=submission\n") << QStringList() << 1;
    QTest::newRow("port beyond 65535") << QByteArray("[Deployment]\nSmtpPort=70000\n") << QStringList() << 1;
    QTest::newRow("port 0") << QByteArray("[Deployment]\nSmtpPort=0\n") << QStringList() << 1;
    QTest::newRow("CA file beside the deployment file")
        << QByteArray("[Deployment]\nSmtpCaFile=certs/ca.pem\n")
        << QStringList { QStringLiteral("SmtpCaFile=%DIR%/certs/ca.pem") } << 0;
    QTest::newRow("CA file, absolute") << QByteArray("[Deployment]\nSmtpCaFile=/etc/kest/ca.pem\n")
                                       << QStringList { QStringLiteral("SmtpCaFile=/etc/kest/ca.pem") } << 0;
    QTest::newRow("no CA file") << QByteArray("[Deployment]\nSmtpCaFile=\n")
                                << QStringList { QStringLiteral("SmtpCaFile=") } << 0;
    QTest::newRow("password with a comma") << QByteArray("[Deployment]\nSmtpPassword=salt,pepper\n")
                                           << QStringList { QStringLiteral("SmtpPassword=salt, pepper") } << 0;
}

void tst_Deployment::fromFile()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, changed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("kestora.ini"));
    if (!ini.isNull())
        writeFile(path, ini);

    QMap<QString, QString> expected = fields(kestDeployment::defaults());
    for (const QString &change : changed) {
        const int equals = change.indexOf(QLatin1Char('='));
        expected[change.left(equals)] = change.mid(equals + 1).replace(QStringLiteral("%DIR%"), dir.path());
    }
    LogCapture log;
    QCOMPARE(fields(kestDeployment::fromFile(path)), expected);
    QTEST(log.messages().filter(QStringLiteral("SmtpPort")).size(), "warnings");
}

// The machine's file in the XDG folders (the first folder weighs most), and the file beside the
// executable above both; a probe page that is not configured is the course server's root.
void tst_Deployment::systemFileUnderLocalFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("XDG_CONFIG_DIRS",
        QFile::encodeName(
            dir.filePath(QStringLiteral("first")) + QLatin1Char(':') + dir.filePath(QStringLiteral("second"))));
    QStringList files = kestDeployment::searchedFiles();
    QCOMPARE(files.size(), 3);
    QCOMPARE(files.at(0), dir.filePath(QStringLiteral("second/Kestora/kestora.ini")));
    QCOMPARE(files.at(1), dir.filePath(QStringLiteral("first/Kestora/kestora.ini")));
    QCOMPARE(files.at(2), QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kestora.ini")));

    QDir().mkpath(dir.filePath(QStringLiteral("first/Kestora")));
    QDir().mkpath(dir.filePath(QStringLiteral("second/Kestora")));
    writeFile(files.at(0), "[Deployment]\nCourseServerHost=second.test\nCatalogueUser=second\nProbeUrl=\n");
    writeFile(files.at(1), "[Deployment]\nCourseServerHost=first.test\n");
    const QString local = dir.filePath(QStringLiteral("kestora.ini"));
    writeFile(local, "[Deployment]\nCatalogueUser=local\n");
    files.replace(2, local);
    kestDeployment values = kestDeployment::defaults();
    for (const QString &file : qAsConst(files))
        values = kestDeployment::fromFile(file, values);
    QCOMPARE(values.courseServerHost, QStringLiteral("first.test"));
    QCOMPARE(values.catalogueUser, QStringLiteral("local"));
    QCOMPARE(values.effectiveProbeUrl(), QStringLiteral("http://first.test/"));
    values.courseServerHost.clear();
    QCOMPARE(values.effectiveProbeUrl(), QString());
    qunsetenv("XDG_CONFIG_DIRS");
}

QTEST_MAIN(tst_Deployment)
#include "tst_deployment.moc"

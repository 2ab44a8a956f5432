// SPDX-License-Identifier: GPL-3.0-or-later
// The course author's commands of the real player: "--check" and "--play", their output and
// their exit status.
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString DemoCourse = QStringLiteral(KEST_SOURCE_DIR "/demo/course");

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run player(const QStringList &arguments, const QString &home = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!home.isEmpty())
        environment.insert(QStringLiteral("HOME"), home);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KEST_PLAYER_EXE), arguments);
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class tst_AuthorTools : public QObject
{
    Q_OBJECT
private slots:
    void checkStatus_data();
    void checkStatus();
    void playDemo();
    void playFailsAStepThatCannotHold();
};

void tst_AuthorTools::checkStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("lastLine");

    QTest::newRow("demo course") << QStringList { QStringLiteral("--check"), DemoCourse } << 0
                                 << "0 error(s), 0 warning(s) in 2 file(s)";
    QTest::newRow("an error") << QStringList { QStringLiteral("--check"), QStringLiteral("@broken") } << 1
                              << "1 error(s), 0 warning(s) in 1 file(s)";
    QTest::newRow("no path") << QStringList { QStringLiteral("--check") } << 2 << QString();
    QTest::newRow("unknown format") << QStringList { QStringLiteral("--check"), DemoCourse, QStringLiteral("--format"),
        QStringLiteral("xml") } << 2 << QString();
    QTest::newRow("unreadable path") << QStringList { QStringLiteral("--check"), QStringLiteral("/nonexistent/course") }
                                     << 2 << "0 error(s), 0 warning(s) in 0 file(s)";
}

void tst_AuthorTools::checkStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, lastLine);
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("broken.avx"));
    writeFile(broken, "<Project>\n  <SubProject>\n</Project>\n");
    arguments.replaceInStrings(QStringLiteral("@broken"), broken);
    const Run run = player(arguments);
    QCOMPARE(run.status, status);
    QCOMPARE(run.out.trimmed().split(QLatin1Char('\n')).last(), lastLine);
    if (status == 1)
        QVERIFY2(run.out.startsWith(broken + QStringLiteral(":3:11: error xml: ")), qPrintable(run.out));
}

// The demo's own steps play it from start to end; the JUnit report counts them.
void tst_AuthorTools::playDemo()
{
    QTemporaryDir dir;
    const QString junit = dir.filePath(QStringLiteral("report.xml"));
    const Run run = player({ QStringLiteral("--play"), DemoCourse, QStringLiteral("--script"),
        DemoCourse + QStringLiteral("/walkthrough.steps"), QStringLiteral("--junit"), junit, QStringLiteral("--home"),
        dir.filePath(QStringLiteral("home")) });
    const QStringList failed = run.out.split(QLatin1Char('\n')).filter(QStringLiteral("FAILED"));
    QVERIFY2(run.status == 0, qPrintable(failed.join(QLatin1Char('\n')) + run.err));
    QFile report(junit);
    QVERIFY(report.open(QIODevice::ReadOnly));
    QVERIFY(report.readAll().contains("failures=\"0\""));
    // The course ran in the given user folder, not the learner's.
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("home/Documents/Tavelo/Tavelo.ini"))));
}

void tst_AuthorTools::playFailsAStepThatCannotHold()
{
    QTemporaryDir dir;
    const QString steps = dir.filePath(QStringLiteral("s.steps"));
    writeFile(steps,
        "# a click on nothing, a scene that never comes, a wrong value\n"
        "click Start\nwait scene Pictures\nexpect scene Quiz\nclick Nowhere\n"
        "wait value Clicks = 7 300\nscreenshot "
            + QFile::encodeName(dir.filePath(QStringLiteral("shot.png"))) + "\n");
    const Run run = player({ QStringLiteral("--play"), DemoCourse, QStringLiteral("--script"), steps },
        dir.filePath(QStringLiteral("home")));
    QCOMPARE(run.status, 1);
    const QStringList lines = run.out.trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0), steps + QStringLiteral(":2: ok: click Start"));
    QCOMPARE(lines.at(2), steps + QStringLiteral(":4: FAILED: expect scene Quiz (scene is \"Pictures\")"));
    QCOMPARE(lines.at(3),
        steps + QStringLiteral(":5: FAILED: click Nowhere (no entity Nowhere is shown in scene \"Pictures\")"));
    QVERIFY(lines.at(4).startsWith(
        steps + QStringLiteral(":6: FAILED: wait value Clicks = 7 300 (Clicks is \"0\" after ")));
    QCOMPARE(lines.at(5), steps + QStringLiteral(":7: ok: screenshot ") + dir.filePath(QStringLiteral("shot.png")));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("shot.png"))));

    // A step that is not one is a usage error, found before the course starts.
    writeFile(steps, "click\n");
    QCOMPARE(player({ QStringLiteral("--play"), DemoCourse, QStringLiteral("--script"), steps }).status, 2);
}

QTEST_GUILESS_MAIN(tst_AuthorTools)
#include "tst_authortools.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestapplication.h"
#include "kestscheduler.h"
#include "scriptbuilder.h"
#include "testactions.h"
#include "variablestore.h"

#include <QFile>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <memory>

#include <sys/syscall.h>
#include <unistd.h>

using namespace kestVariables;

namespace {
const QString dataDir = QStringLiteral(KEST_TEST_DATA_DIR "/variables/");

// "name=value;..." into the store, in order.
void setVariables(const QString &entries)
{
    for (const QString &entry : entries.split(QLatin1Char(';'), QString::SkipEmptyParts))
        assignVariable(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
}

// The scheduling state of a thread of this process ('R' running, 'S' asleep, ...).
QChar threadState(int tid)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly))
        return QChar();
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')'); // the name may hold blanks
    return close >= 0 && close + 2 < line.size() ? QLatin1Char(line.at(close + 2)) : QChar();
}

// Runs the action as the engine would: registered as the running script.
void run(const QString &type, const QStringList &arguments)
{
    buildRegistered(call(type, arguments, "Text"))->execute();
    clearRunning();
}
}

class tst_Variables : public QObject
{
    Q_OBJECT
    std::unique_ptr<kestApplication> m_app;

private slots:
    void initTestCase()
    {
        m_app = std::make_unique<kestApplication>();
        registerTestActions();
    }
    void init() { clear(); }

    void assign_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        // clang-format off
        QTest::newRow("increment self") << "Count=4" << "Count" << "!+Count" << "5";
        QTest::newRow("increment unset self stores the name") << "" << "Count" << "!+Count" << "Count";
        QTest::newRow("add number") << "Sum=4" << "Sum" << "!+3" << "7";
        QTest::newRow("add to a non-number") << "Sum=abc" << "Sum" << "!+3" << "3";
        QTest::newRow("subtract variable") << "X=10;Y=2.5" << "X" << "!-Y" << "7.5";
        QTest::newRow("add a word stores it stripped") << "X=1" << "X" << "!+a+b!" << "ab";
        QTest::newRow("six significant digits") << "X=0.1" << "X" << "!+0.2" << "0.3";
        QTest::newRow("exponent form") << "X=1234566" << "X" << "!+1" << "1.23457e+06";
        QTest::newRow("literal") << "hello=x" << "A" << "!hello!" << "hello";
        QTest::newRow("copies a variable") << "B=42" << "A" << "B" << "42";
        QTest::newRow("unset name stays") << "" << "A" << "B" << "B";
        QTest::newRow("unset $ name is empty") << "" << "A" << "$B" << "";
        QTest::newRow("% target unresolved") << "B=42" << "%A" << "B" << "B";
        QTest::newRow("trimmed") << "" << "A" << "  a b  " << "a b";
        // clang-format on
    }
    void assign()
    {
        QFETCH(QString, before);
        QFETCH(QString, name);
        QFETCH(QString, value);
        setVariables(before);
        assignVariable(name, value);
        QTEST(variableValue(name), "stored");
    }

    void paths_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("substituted");
        QTest::addColumn<QString>("userPath");
        // clang-format off
        QTest::newRow("raw text") << "a=x" << "data/a.wav" << "dxtx/x.wxv" << "/dxtx/x.wxv";
        QTest::newRow("below user folder") << "USERPATH=C:/u/" << "sounds\\a.wav" << "sounds\\a.wav" << "C:/u/sounds/a.wav";
        QTest::newRow("USERPATH named") << "USERPATH=C:/u" << "USERPATH\\a.wav" << "C:/u\\a.wav" << "C:/u/a.wav";
        QTest::newRow("empty name ignored") << "=zz;USERPATH=/u" << "ab" << "ab" << "/u/ab";
        // clang-format on
    }
    void paths()
    {
        QFETCH(QString, before);
        QFETCH(QString, path);
        setVariables(before);
        QTEST(substituteVariables(path), "substituted");
        QTEST(resolveUserPath(path), "userPath");
    }

    void setValueStopTests()
    {
        const auto root
            = buildBody(call(QStringLiteral("SetValue"), { QStringLiteral("A"), QStringLiteral("1") }, "Text"));
        root->execute(); // no script running
        statRunningObject = root.get();
        root->skipObject = true;
        root->execute();
        statRunningObject = nullptr;
        QCOMPARE(variableValue(QStringLiteral("A")), QString());
        run(QStringLiteral("SetValue"), { QStringLiteral("A"), QStringLiteral("!+A") });
        QCOMPARE(buildBody(call(QStringLiteral("GetValue"), { QStringLiteral("A") }, "Text"))->execute(),
            QStringLiteral("A"));
        // Unlike resolveValue, an unset name reads as "".
        QCOMPARE(buildBody(call(QStringLiteral("GetValue"), { QStringLiteral("Z") }, "Text"))->execute(), QString());
    }

    void setRandomValue_data()
    {
        QTest::addColumn<QString>("low");
        QTest::addColumn<QString>("high");
        QTest::addColumn<qint64>("min");
        QTest::addColumn<qint64>("max");
        QTest::newRow("range") << "1"
                               << "3" << qint64(1) << qint64(3);
        QTest::newRow("empty high takes low") << "3"
                                              << "" << qint64(3) << qint64(3);
        QTest::newRow("high one below low keeps low") << "5"
                                                      << "4" << qint64(5) << qint64(5);
        QTest::newRow("words read as 0") << "x"
                                         << "y" << qint64(0) << qint64(0);
        QTest::newRow("widest range") << "-2147483648"
                                      << "2147483647" << qint64(INT_MIN) << qint64(INT_MAX);
    }
    void setRandomValue()
    {
        QFETCH(QString, low);
        QFETCH(QString, high);
        QFETCH(qint64, min);
        QFETCH(qint64, max);
        for (int i = 0; i < 50; ++i) {
            run(QStringLiteral("SetRandomValue"), { QStringLiteral("R"), low, high });
            bool ok = false;
            const qint64 value = variableValue(QStringLiteral("R")).toLongLong(&ok);
            QVERIFY2(ok && value >= min && value <= max, qPrintable(variableValue(QStringLiteral("R"))));
        }
        QTest::ignoreMessage(QtDebugMsg, "Skipobject?");
        buildBody(call(QStringLiteral("SetRandomValue"), { QStringLiteral("R"), low }, "Text"))->execute();
    }

    void shuffleVariable_data()
    {
        QTest::addColumn<QString>("groups");
        QTest::addColumn<QString>("outcomes"); // kept;exchanged
        QTest::newRow("two groups") << "a1|a2;b1|b2"
                                    << "1|2|3|4;3|4|1|2";
        QTest::newRow("short tuple leaves names empty") << "a1|a2;b1"
                                                        << "1|2|3|4;3||1|4";
        QTest::newRow("trailing ; adds no empty group") << "a1|a2;b1|b2;"
                                                        << "1|2|3|4;3|4|1|2";
    }
    void shuffleVariable()
    {
        QFETCH(QString, groups);
        QFETCH(QString, outcomes);
        // Each deal is one of the two orders, and both turn up: the generator is not stuck.
        QSet<QString> seen;
        for (int i = 0; i < 200 && seen.size() < 2; ++i) {
            setVariables(QStringLiteral("a1=1;a2=2;b1=3;b2=4"));
            QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("[LibShufflePosition] : ") + groups));
            QTest::ignoreMessage(QtDebugMsg, "[LibShufflePosition] : Module worked fine!");
            buildBody(call(QStringLiteral("ShuffleVariable"), { groups }, "Text"))->execute();
            QStringList values;
            for (const char *name : { "a1", "a2", "b1", "b2" })
                values << variableValue(QLatin1String(name));
            QVERIFY2(outcomes.split(QLatin1Char(';')).contains(values.join(QLatin1Char('|'))),
                qPrintable(values.join(QLatin1Char('|'))));
            seen.insert(values.join(QLatin1Char('|')));
        }
        QCOMPARE(seen.size(), 2);
    }

    void randomDrawsDifferWithinASecond()
    {
        // Each action used to reseed with the time in seconds, so fresh actions drew alike.
        QSet<QString> draws;
        for (int i = 0; i < 5; ++i) {
            run(QStringLiteral("SetRandomValue"),
                { QStringLiteral("R"), QStringLiteral("0"), QStringLiteral("1000000000") });
            draws.insert(variableValue(QStringLiteral("R")));
        }
        QVERIFY(draws.size() > 1);
    }

    void externFileCheck()
    {
        QVERIFY(!setExternVariablePath(dataDir + QStringLiteral("errorpage.txt")));
        QTest::ignoreMessage(QtDebugMsg, "Failed to open ExternVariable path");
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("ExternVariable path is ") + dataDir));
        QVERIFY(!setExternVariablePath(dataDir));
        QCOMPARE(externVariablePath(), QString());
        QVERIFY(setExternVariablePath(dataDir + QStringLiteral("variables.ini")));
        QCOMPARE(externVariablePath(), dataDir + QStringLiteral("variables.ini"));
    }

    void externSection_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        const QString ini = QStringLiteral("variables.ini");
        const QString global = QStringLiteral("Global");
        // clang-format off
        QTest::newRow("backslashes kept, no escapes") << ini << global << "Bell" << "sounds\\a.wav";
        QTest::newRow("slashes become backslashes") << ini << global << "Picture" << "pictures\\start\\title.png";
        QTest::newRow("comma kept") << ini << global << "Greeting" << "Hello, world";
        QTest::newRow("quotes dropped, value trimmed") << ini << global << "Quoted" << "two words";
        QTest::newRow("semicolon kept") << ini << global << "Menu" << "a;b";
        QTest::newRow("key trimmed") << ini << global << "Spaced Key" << "padded value";
        QTest::newRow("earlier key resolved") << ini << global << "Copy" << "sounds\\intro.wav";
        QTest::newRow("% key unresolved") << ini << global << "%Raw" << "Intro";
        QTest::newRow("arithmetic form") << ini << global << "Count" << "1";
        QTest::newRow("only its section") << ini << "Level1" << "Intro" << "level1\\intro.wav";
        QTest::newRow("section names are exact") << ini << "global" << "Intro" << "";
        QTest::newRow("legacy code page") << "legacy.ini" << global << "Gruss" << QStringLiteral("Gr\u00fc\u00dfe");
        // clang-format on
    }
    void externSection()
    {
        QFETCH(QString, file);
        QFETCH(QString, section);
        QFETCH(QString, name);
        const QString log = QStringLiteral("[LibGetExternVariableSection]  (") + section + QLatin1Char(')');
        QTest::ignoreMessage(QtDebugMsg, qPrintable(log));
        run(QStringLiteral("GetExternVariableSection"), { section }); // no file yet: nothing
        QCOMPARE(variableValue(name), QString());
        QVERIFY(setExternVariablePath(dataDir + file));
        run(QStringLiteral("GetExternVariableSection"), { section });
        QTEST(variableValue(name), "value");
    }

    void loadTextfile()
    {
        setVariables(QStringLiteral("Note=old;USERPATH=") + dataDir);
        run(QStringLiteral("LoadTextfile"), { QStringLiteral("Note"), QStringLiteral("missing.txt") });
        QCOMPARE(variableValue(QStringLiteral("Note")), QStringLiteral("old"));
        QTest::ignoreMessage(
            QtDebugMsg, qPrintable(QStringLiteral("[LibLoadTextfile] ") + dataDir + QStringLiteral("note.txt")));
        QTest::ignoreMessage(QtDebugMsg,
            "[LibLoadTextfile]  (Note,  Gr\xc3\xbc\xc3\x9f"
            "e, Anna!\n\n)");
        run(QStringLiteral("LoadTextfile"), { QStringLiteral("Note"), QStringLiteral("note.txt") });
        QCOMPARE(variableValue(QStringLiteral("Note")), QStringLiteral("Gr\u00fc\u00dfe, Anna!"));
    }

    void scriptMutexSerialises_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        // Number arguments take no lock of their own, unlike Text.
        // clang-format off
        QTest::newRow("SetValue") << "<SetValue><Number>K</Number><Number>!+K</Number></SetValue>" << "K" << "6";
        QTest::newRow("LoadTextfile") << "<LoadTextfile><Number>Note</Number><Number>note.txt</Number></LoadTextfile>"
                                      << "Note" << QStringLiteral("Gr\u00fc\u00dfe, Anna!");
        QTest::newRow("Text") << "<Text>[K+1]</Text>" << "" << "6";
        // clang-format on
    }
    // While another script holds the script mutex these wait, then see what it wrote.
    void scriptMutexSerialises()
    {
        QFETCH(QString, body);
        QFETCH(QString, name);
        setVariables(QStringLiteral("K=1;USERPATH=") + dataDir);
        const auto root = buildBody(body);
        statRunningObject = root.get();
        std::atomic<bool> done { false };
        std::atomic<int> tid { 0 };
        QString result;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            tid = int(syscall(SYS_gettid)); // the marker: from here on, the action runs
            result = root->execute();
            done = true;
        }));
        bool doneWhileLocked = false;
        {
            QMutexLocker locker(&scriptMutex());
            worker->start();
            // Asleep in the kernel: nothing else it runs can block, so it waits for this lock.
            QTRY_VERIFY(tid != 0 && threadState(tid) == QLatin1Char('S'));
            doneWhileLocked = done;
            assignVariable(QStringLiteral("K"), QStringLiteral("5"));
        }
        QVERIFY(worker->wait(10000));
        statRunningObject = nullptr;
        QVERIFY(!doneWhileLocked);
        QTEST(name.isEmpty() ? result : variableValue(name), "value");
    }

    void concurrentIncrements_data()
    {
        QTest::addColumn<bool>("throughAction");
        QTest::newRow("SetValue") << true;
        QTest::newRow("assignVariable alone") << false;
    }
    // Several scripts count one variable up while others read and write the store: none is lost.
    void concurrentIncrements()
    {
        QFETCH(bool, throughAction);
        constexpr int threads = 4;
        constexpr int rounds = 2000;
        std::atomic<int> ready { 0 };
        const auto running = buildBody(QStringLiteral("<ActionList/>"));
        statRunningObject = running.get();
        setVariables(QStringLiteral("Count=0;USERPATH=/u"));
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t, throughAction, &ready] {
                const auto increment
                    = buildBody(QStringLiteral("<SetValue><Text>Count</Text><Text>!+Count</Text></SetValue>"));
                const auto reader = buildBody(QStringLiteral("<Text>[Count+1] (Count)</Text>"));
                for (++ready; ready < threads;) // start together, so that the increments overlap
                    QThread::yieldCurrentThread();
                for (int i = 0; i < rounds; ++i) {
                    if (throughAction)
                        increment->execute();
                    else
                        assignVariable(QStringLiteral("Count"), QStringLiteral("!+Count"));
                    assignVariable(QStringLiteral("T") + QString::number(t), QString::number(i));
                    reader->execute();
                    variableValue(QStringLiteral("Count"));
                    resolveUserPath(QStringLiteral("T0/Count.txt"));
                }
            }));
            workers.back()->start();
        }
        for (auto &worker : workers)
            QVERIFY(worker->wait(60000));
        statRunningObject = nullptr;
        QCOMPARE(variableValue(QStringLiteral("Count")), QString::number(threads * rounds));
        QCOMPARE(variableValue(QStringLiteral("T3")), QString::number(rounds - 1));
    }
};

QTEST_GUILESS_MAIN(tst_Variables)
#include "tst_variables.moc"

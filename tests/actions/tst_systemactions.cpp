// SPDX-License-Identifier: GPL-3.0-or-later
#include "deployment.h"
#include "kestapplication.h"
#include "kestcommands.h"
#include "kestobject.h"
#include "kestscheduler.h"
#include "logcapture.h"
#include "systemactions.h"
#include "testactions.h"
#include "testfiles.h"
#include "variablestore.h"

#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>

#include <memory>

// Stands in for the desktop's browser: takes the URLs of a private scheme.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
    bool onGuiThread = false;

public slots:
    void open(const QUrl &url)
    {
        urls.append(url);
        onGuiThread = QThread::currentThread() == qApp->thread();
    }
};

namespace {

template <class T> T *findAction(kestObject *root)
{
    if (auto *action = qobject_cast<T *>(root))
        return action;
    return root->findChild<T *>();
}

} // namespace

class tst_SystemActions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void getIniValue_data();
    void getIniValue();
    void setIniValue_data();
    void setIniValue();
    void setIniValueNeedsRunningScript();
    void changeLevel_data();
    void changeLevel();
    void changeProject_data();
    void changeProject();
    void loadFileWaitsForProject();
    void loadFileWaitEnds_data();
    void loadFileWaitEnds();
    void loadFileConditions_data();
    void loadFileConditions();
    void loadFileChangesProjectThenLevel();
    void sendMail_data();
    void sendMail();
    void sendMailStopped();
    void openLink_data();
    void openLink();
    // Last: quitting leaves the GUI thread unable to run further event loops.
    void closeApp();

private:
    QString iniFile() const { return m_dir->path() + QStringLiteral("/Tavelo.ini"); }
    QString userPath() const { return m_dir->path(); }
    // Builds body and sets the scheduler state: registered makes it the running script.
    // Keeps an action's commands away from the router, so the test sees them only through spies.
    void detach(kestObject *action) { QObject::disconnect(action, &kestObject::gsSendEvent, m_app.get(), nullptr); }

    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<QTemporaryDir> m_dir;
    UrlSink m_sink;
};

void tst_SystemActions::initTestCase()
{
    m_app = std::make_unique<kestApplication>();
    registerTestActions();
    kestDeployment deployment = kestDeployment::defaults();
    deployment.smtpServer = QStringLiteral("mail.deploy.test");
    deployment.smtpAccount = QStringLiteral("login@deploy.test");
    deployment.smtpPassword = QStringLiteral("secret4");
    deployment.smtpMailbox = QStringLiteral("box@deploy.test");
    kestDeployment::setCurrent(deployment);
    for (const char *scheme : { "http", "https", "mailto", "file" })
        QDesktopServices::setUrlHandler(QLatin1String(scheme), &m_sink, "open");
}

void tst_SystemActions::cleanupTestCase()
{
    for (const char *scheme : { "http", "https", "mailto", "file" })
        QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
}

void tst_SystemActions::init()
{
    TestRecord::clearJournal();
    kestVariables::clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    kestVariables::assignVariable(QStringLiteral("INIPATH"), m_dir->path());
    kestVariables::assignVariable(QStringLiteral("USERPATH"), m_dir->path());
    kestVariables::assignVariable(QStringLiteral("Score"), QStringLiteral("42"));
}

void tst_SystemActions::cleanup()
{
    clearRunning();
}

void tst_SystemActions::getIniValue_data()
{
    QTest::addColumn<QString>("file"); // "" for no settings file at all
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("present key") << "[User]\nName=Anna\n"
                                 << "User"
                                 << "Name"
                                 << "Anna";
    QTest::newRow("absent key reads empty") << "[User]\nName=Anna\n"
                                            << "User"
                                            << "Age"
                                            << "";
    QTest::newRow("key of another section") << "[Color]\nName=red\n"
                                            << "User"
                                            << "Name"
                                            << "";
    QTest::newRow("no settings file") << ""
                                      << "User"
                                      << "Name"
                                      << "";
    QTest::newRow("value naming a variable gives its value") << "[User]\nBest=Score\n"
                                                             << "User"
                                                             << "Best"
                                                             << "42";
    QTest::newRow("unquoted commas kept as text") << "[Color]\nEntitycolor=rgb(1, 2, 3)\n"
                                                  << "Color"
                                                  << "Entitycolor"
                                                  << "rgb(1, 2, 3)";
    QTest::newRow("quoted value") << "[User]\nNote=\"a|b, c\"\n"
                                  << "User"
                                  << "Note"
                                  << "a|b, c";
}

void tst_SystemActions::getIniValue()
{
    QFETCH(QString, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    if (!file.isEmpty())
        writeFile(iniFile(), file.toUtf8());
    kestVariables::assignVariable(key, QStringLiteral("stale"));

    const auto root = buildRegistered(call(QStringLiteral("GetIniValue"), { section, key }), false);
    QCOMPARE(root->execute(), expected);
    QCOMPARE(kestVariables::variableValue(key), expected);
    // Reading never creates the file.
    QCOMPARE(QFile::exists(iniFile()), !file.isEmpty());
}

void tst_SystemActions::setIniValue_data()
{
    QTest::addColumn<QString>("folder"); // below the temporary folder; "" for the folder itself
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("fileLines");

    QTest::newRow("missing file is created") << ""
                                             << ""
                                             << "3"
                                             << "3" << lines("[User]|Level=3");
    QTest::newRow("missing folder is created") << "new/deeper"
                                               << ""
                                               << "3"
                                               << "3" << lines("[User]|Level=3");
    QTest::newRow("other keys kept") << ""
                                     << "[User]\nVarTeacherMail=\n[Color]\nBackgroundcolor=blue\n"
                                     << "5"
                                     << "5" << lines("[User]|VarTeacherMail=|Level=5|[Color]|Backgroundcolor=blue");
    QTest::newRow("existing value replaced") << ""
                                             << "[User]\nLevel=1\n"
                                             << "9"
                                             << "9" << lines("[User]|Level=9");
    QTest::newRow("value naming a variable is resolved") << ""
                                                         << ""
                                                         << "Score"
                                                         << "42" << lines("[User]|Level=42");
    QTest::newRow("comma survives the round trip") << ""
                                                   << ""
                                                   << "red, green"
                                                   << "red, green" << lines("[User]|Level=\"red, green\"");
}

void tst_SystemActions::setIniValue()
{
    QFETCH(QString, folder);
    QFETCH(QString, file);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QFETCH(QStringList, fileLines);
    if (!file.isEmpty())
        writeFile(iniFile(), file.toUtf8());
    const QString iniFolder = folder.isEmpty() ? m_dir->path() : m_dir->path() + QLatin1Char('/') + folder;
    kestVariables::assignVariable(QStringLiteral("INIPATH"), iniFolder);

    LogCapture logs;
    const auto setter = buildRegistered(
        call(QStringLiteral("SetIniValue"), { QStringLiteral("User"), QStringLiteral("Level"), value }), true);
    QCOMPARE(setter->execute(), expected);
    QCOMPARE(logs.count(QStringLiteral("[LIB] SetIniValue (User,Level,") + value + QLatin1Char(')')), 1);
    QCOMPARE(kestVariables::variableValue(QStringLiteral("Level")), expected);

    const QStringList written = QString::fromUtf8(readFile(iniFolder + QStringLiteral("/Tavelo.ini")))
                                    .split(QLatin1Char('\n'), QString::SkipEmptyParts);
    for (const QString &line : fileLines)
        QVERIFY2(written.contains(line), qPrintable(written.join(QLatin1Char('/'))));

    kestVariables::assignVariable(QStringLiteral("Level"), QStringLiteral("stale"));
    const auto getter = buildRegistered(
        call(QStringLiteral("GetIniValue"), { QStringLiteral("User"), QStringLiteral("Level") }), false);
    QCOMPARE(getter->execute(), expected);
}

void tst_SystemActions::setIniValueNeedsRunningScript()
{
    const auto root = buildRegistered(
        call(QStringLiteral("SetIniValue"), { QStringLiteral("User"), QStringLiteral("Level"), QStringLiteral("3") }),
        false);
    QCOMPARE(root->execute(), QString());
    QVERIFY(!QFile::exists(iniFile()));
    QCOMPARE(kestVariables::variableValue(QStringLiteral("Level")), QString());
}

void tst_SystemActions::changeLevel_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("registered");
    QTest::addColumn<bool>("keepAlive");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("journal");

    const QString inList = QStringLiteral("<ActionList>")
        + call(QStringLiteral("ChangeLevel"), { QStringLiteral("Scene2") })
        + QStringLiteral("<TestRecord>after</TestRecord></ActionList>");
    const QString alone = call(QStringLiteral("ChangeLevel"), { QStringLiteral("Scene2") });
    const QStringList sent = lines("stopMedia:|gotoSubProject:Scene2");

    QTest::newRow("registered: sends and ends the script") << inList << true << false << false << sent << lines("");
    QTest::newRow("navigation word passed as it is")
        << call(QStringLiteral("ChangeLevel"), { QStringLiteral("%NEXT") }) << true << false << false
        << lines("stopMedia:|gotoSubProject:%NEXT") << lines("");
    QTest::newRow("unregistered: nothing, script goes on")
        << inList << false << false << false << lines("") << lines("after");
    QTest::newRow("keepAlive runs it and the rest unregistered")
        << inList << false << true << false << sent << lines("after");
    QTest::newRow("keepAlive runs it in a stopped script") << alone << true << true << true << sent << lines("");
    QTest::newRow("stopped without keepAlive: nothing") << alone << true << false << true << lines("") << lines("");
}

void tst_SystemActions::changeLevel()
{
    QFETCH(QString, body);
    QFETCH(bool, registered);
    QFETCH(bool, keepAlive);
    QFETCH(bool, stopped);
    const auto root = buildRegistered(body, registered);
    root->keepAlive = keepAlive;
    root->skipObject = stopped;
    auto *action = findAction<ChangeLevel>(root.get());
    detach(action);
    QSignalSpy spy(action, &kestObject::gsSendEvent);

    QCOMPARE(root->execute(), QString());
    QTEST(commands(spy), "commands");
    QTEST(TestRecord::journal(), "journal");
    QCOMPARE(root->skipObject.load(), stopped || !commands(spy).isEmpty());
}

void tst_SystemActions::changeProject_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("keepAlive");
    QTest::addColumn<bool>("scriptRunning");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<QString>("flags"); // the state line; "" when the action gives up before it
    QTest::addColumn<QString>("sent"); // payload below USERPATH ("{U}" stands for it); "" for none

    QTest::newRow("script running") << "courses\\next.avx" << false << true << false << "false true false"
                                    << "{U}/courses/next.avx";
    QTest::newRow("keepAlive alone") << "courses\\next.avx" << true << false << false << "true false true"
                                     << "{U}/courses/next.avx";
    QTest::newRow("neither: nothing sent") << "courses\\next.avx" << false << false << false << "false false true"
                                           << "";
    QTest::newRow("stopped: nothing sent even with keepAlive") << "courses\\next.avx" << true << true << true << ""
                                                               << "";
    QTest::newRow("path naming USERPATH is not prefixed twice")
        << "USERPATH\\next.avx" << false << true << false << "false true false"
        << "{U}/next.avx";
}

void tst_SystemActions::changeProject()
{
    QFETCH(QString, path);
    QFETCH(bool, keepAlive);
    QFETCH(bool, scriptRunning);
    QFETCH(bool, stopped);
    QFETCH(QString, flags);
    QFETCH(QString, sent);
    const auto root = buildRegistered(call(QStringLiteral("ChangeProject"), { path }), scriptRunning);
    root->keepAlive = keepAlive;
    root->skipObject = stopped;
    detach(root.get());
    QSignalSpy spy(root.get(), &kestObject::gsSendEvent);

    LogCapture logs;
    QCOMPARE(root->execute(), QString());
    const QStringList expected = sent.isEmpty()
        ? QStringList()
        : QStringList { QStringLiteral("ChangeProject:") + sent.replace(QStringLiteral("{U}"), userPath()) };
    QCOMPARE(commands(spy), expected);
    QCOMPARE(logs.count(QStringLiteral("ChangeProject starting!")), 1);
    QCOMPARE(logs.count(QStringLiteral("ChangeProject survived skipObject!")), flags.isEmpty() ? 0 : 1);
    if (!flags.isEmpty())
        QCOMPARE(logs.count(flags), 1);
    if (!sent.isEmpty())
        QCOMPARE(logs.count(QStringLiteral("Change Project: ") + sent), 1);
}

void tst_SystemActions::loadFileWaitsForProject()
{
    const auto root = buildRegistered(
        QStringLiteral("<LoadFile><TestRecord>zero</TestRecord><TestRecord>one</TestRecord></LoadFile>"), true);
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(TestRecord::journal(), lines("zero"));
    QVERIFY(root->keepAlive.load());
    // Handled by the worker's only event loop: the one LoadFile waits in.
    QVERIFY(drainEvents(root.get()));
    QVERIFY(worker->isRunning());
    QCOMPARE(TestRecord::journal(), lines("zero"));

    emit m_app->projectLoaded();
    QVERIFY(worker->wait(5000));
    QCOMPARE(TestRecord::journal(), lines("zero|one"));
    QVERIFY(root->keepAlive.load());
}

void tst_SystemActions::loadFileWaitEnds_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("ends");
    // The project change itself sends stopAll ahead of its report: that must not end the wait.
    QTest::newRow("stopAll alone keeps waiting") << "stopAll" << false;
    QTest::newRow("exitAll ends it") << "exitAll" << true;
    QTest::newRow("pre-emption ends it") << "preempt" << true;
    QTest::newRow("application gone ends it") << "appGone" << true;
}

void tst_SystemActions::loadFileWaitEnds()
{
    QFETCH(QString, trigger);
    QFETCH(bool, ends);
    const auto root = buildRegistered(
        QStringLiteral("<LoadFile><TestRecord>zero</TestRecord><TestRecord>one</TestRecord></LoadFile>"), true);
    const auto worker = runOnWorker(root.get());
    QTRY_COMPARE(TestRecord::journal(), lines("zero"));

    if (trigger == QLatin1String("stopAll"))
        emit m_app->stopAll();
    else if (trigger == QLatin1String("exitAll"))
        emit m_app->exitAll();
    else if (trigger == QLatin1String("preempt"))
        kestObject::endAllOn(root.get(), PROCEDURE);
    else
        m_app.reset();

    if (ends) {
        QVERIFY(worker->wait(5000));
    } else {
        QVERIFY(drainEvents(root.get())); // the stop has reached the waiting loop
        QVERIFY(worker->isRunning());
        emit m_app->projectLoaded();
        QVERIFY(worker->wait(5000));
    }
    // The level change still runs: that is what keepAlive is for.
    QCOMPARE(TestRecord::journal(), lines("zero|one"));
    if (!m_app)
        m_app = std::make_unique<kestApplication>();
}

void tst_SystemActions::loadFileConditions_data()
{
    QTest::addColumn<bool>("isRunningObject");
    QTest::addColumn<bool>("scriptRunning");
    QTest::addColumn<bool>("stopped");
    QTest::newRow("another script is the running one") << false << true << false;
    QTest::newRow("no script running") << true << false << false;
    QTest::newRow("stopped") << true << true << true;
}

void tst_SystemActions::loadFileConditions()
{
    QFETCH(bool, isRunningObject);
    QFETCH(bool, scriptRunning);
    QFETCH(bool, stopped);
    const auto other = buildBody(QStringLiteral("<TestRecord>other</TestRecord>"));
    const auto root = buildRegistered(
        QStringLiteral("<LoadFile><TestRecord>zero</TestRecord><TestRecord>one</TestRecord></LoadFile>"), false);
    statRunningObject = isRunningObject ? root.get() : other.get();
    statScriptRunning = scriptRunning;
    root->skipObject = stopped;

    QCOMPARE(root->execute(), QString());
    QCOMPARE(TestRecord::journal(), lines(""));
    QVERIFY(!root->keepAlive.load());
}

void tst_SystemActions::loadFileChangesProjectThenLevel()
{
    // The whole road through the router: it stops all scripts, loads (here: no project) and
    // reports back, and only then does the level change go out. The project layer's router
    // stands in as a handler that reports the load at once.
    kestApplication *app = m_app.get();
    app->setCommandHandler([app](const QString &command, const QString &) {
        if (command != kestCommand::ChangeProject)
            return;
        qDebug("stand-in router: ChangeProject");
        emit app->projectLoaded();
    });
    const auto noRouter = qScopeGuard([app] { app->setCommandHandler(nullptr); });
    const auto root = buildRegistered(QStringLiteral("<LoadFile>")
            + call(QStringLiteral("ChangeProject"), { QStringLiteral("courses\\next.avx") })
            + call(QStringLiteral("ChangeLevel"), { QStringLiteral("Intro") }) + QStringLiteral("</LoadFile>"),
        true);
    QSignalSpy projectSpy(findAction<ChangeProject>(root.get()), &kestObject::gsSendEvent);
    QSignalSpy levelSpy(findAction<ChangeLevel>(root.get()), &kestObject::gsSendEvent);
    QSignalSpy loaded(m_app.get(), &kestApplication::projectLoaded);

    LogCapture logs;
    const auto worker = runOnWorker(root.get());
    QTRY_VERIFY(worker->isFinished());
    QCOMPARE(commands(projectSpy),
        QStringList { QStringLiteral("ChangeProject:") + userPath() + QStringLiteral("/courses/next.avx") });
    QCOMPARE(commands(levelSpy), lines("stopMedia:|gotoSubProject:Intro"));
    QCOMPARE(loaded.count(), 1);
    const QStringList messages = logs.messages();
    const int routed = messages.indexOf(QStringLiteral("stand-in router: ChangeProject"));
    QVERIFY(routed >= 0);
    QVERIFY(routed < messages.indexOf(QStringLiteral("LoadFile changelevel entering!")));
    QVERIFY(root->keepAlive.load());
}

void tst_SystemActions::sendMail_data()
{
    QTest::addColumn<QStringList>("args"); // server, account, password, subject, body, attachment
    QTest::addColumn<QString>("teacher");
    QTest::addColumn<QString>("payload"); // "{U}" stands for USERPATH

    const QString mine = QStringLiteral("anna@school.test");
    const QString rest = QStringLiteral("|Hello|Anna : Mobile Version --> Body|{U}/files/rec.wav");
    const QStringList standard = { QStringLiteral("Hello"), QStringLiteral("Body"), QStringLiteral("files\\rec.wav") };

    QTest::newRow("default server takes the installation's account")
        << QStringList { QStringLiteral("default"), QStringLiteral("me"), QStringLiteral("pw") } + standard
        << "t@school.test"
        << QStringLiteral("mail.deploy.test|login@deploy.test|secret4|") + mine + QStringLiteral("|t@school.test")
            + rest;
    QTest::newRow("empty server likewise")
        << QStringList { QString(), QStringLiteral("me"), QStringLiteral("pw") } + standard << "t@school.test"
        << QStringLiteral("mail.deploy.test|login@deploy.test|secret4|") + mine + QStringLiteral("|t@school.test")
            + rest;
    QTest::newRow("own server: arguments unchanged")
        << QStringList { QStringLiteral("smtp.school.test"), QStringLiteral("me"), QStringLiteral("pw") } + standard
        << "t@school.test"
        << QStringLiteral("smtp.school.test|me|pw|") + mine + QStringLiteral("|t@school.test") + rest;
    QTest::newRow("Default in capitals is a server name")
        << QStringList { QStringLiteral("Default"), QStringLiteral("me"), QStringLiteral("pw") } + standard
        << "t@school.test" << QStringLiteral("Default|me|pw|") + mine + QStringLiteral("|t@school.test") + rest;
    QTest::newRow("no teacher mail: the default mailbox")
        << QStringList { QStringLiteral("smtp.school.test"), QStringLiteral("me"), QStringLiteral("pw") } + standard
        << "" << QStringLiteral("smtp.school.test|me|pw|") + mine + QStringLiteral("|box@deploy.test") + rest;
    QTest::newRow("subject naming a variable, attachment naming USERPATH")
        << QStringList { QStringLiteral("smtp.school.test"), QStringLiteral("me"), QStringLiteral("pw"),
               QStringLiteral("Score"), QStringLiteral("Body"), QStringLiteral("USERPATH\\a.wav") }
        << "t@school.test"
        << QStringLiteral("smtp.school.test|me|pw|") + mine
            + QStringLiteral("|t@school.test|42|Anna : Mobile Version --> Body|{U}/a.wav");
    const QString bar(QChar(0x00A6));
    QTest::newRow("separator inside fields is neutralised") << QStringList { QStringLiteral("smtp.school.test"),
        QStringLiteral("me"), QStringLiteral("p|w"), QStringLiteral("a|b"), QStringLiteral("x | y"),
        QStringLiteral("files\\rec.wav") } << "t@school.test"
                                                            << QStringLiteral("smtp.school.test|me|p") + bar
            + QStringLiteral("w|") + mine + QStringLiteral("|t@school.test|a") + bar
            + QStringLiteral("b|Anna : Mobile Version --> x ") + bar + QStringLiteral(" y|{U}/files/rec.wav");
}

void tst_SystemActions::sendMail()
{
    QFETCH(QStringList, args);
    QFETCH(QString, teacher);
    QFETCH(QString, payload);
    kestVariables::assignVariable(QStringLiteral("VarLearnerMail"), QStringLiteral("anna@school.test"));
    kestVariables::assignVariable(QStringLiteral("VarTeacherMail"), teacher);
    kestVariables::assignVariable(QStringLiteral("VarLearnerName"), QStringLiteral("Anna"));

    // Arguments 3 and 4 run, but the addresses come from the variables.
    const QString body = QStringLiteral("<SendMail>") + literal(args.at(0)) + literal(args.at(1)) + literal(args.at(2))
        + QStringLiteral("<TestRecord>sender arg</TestRecord><TestRecord>recipient arg</TestRecord>")
        + literal(args.at(3)) + literal(args.at(4)) + literal(args.at(5)) + QStringLiteral("</SendMail>");
    const auto root = buildRegistered(body, false);
    detach(root.get());
    QSignalSpy spy(root.get(), &kestObject::gsSendEvent);

    LogCapture logs;
    QCOMPARE(root->execute(), QString());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("sendMail"));
    const QString sent = spy.at(0).at(1).toString();
    QCOMPARE(sent, payload.replace(QStringLiteral("{U}"), userPath()));
    QCOMPARE(sent.split(QLatin1Char('|')).size(), 8);
    QCOMPARE(TestRecord::journal(), lines("sender arg|recipient arg"));
    // The arguments as written, before the defaults replace them, without the password.
    QCOMPARE(logs.count(args.at(0) + args.at(1) + QStringLiteral("********")), 1);
    for (const QString &line : logs.messages())
        QVERIFY2(!line.contains(args.at(2)), qPrintable(line));
}

void tst_SystemActions::sendMailStopped()
{
    const auto root = buildRegistered(
        QStringLiteral("<SendMail><Number>default</Number><TestRecord>account</TestRecord></SendMail>"), true);
    root->skipObject = true;
    detach(root.get());
    QSignalSpy spy(root.get(), &kestObject::gsSendEvent);
    QCOMPARE(root->execute(), QString());
    QCOMPARE(spy.count(), 0);
    QCOMPARE(TestRecord::journal(), lines(""));
}

void tst_SystemActions::openLink_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("registered");
    QTest::addColumn<bool>("opened");
    QTest::newRow("running script opens the link") << "https://course.test/page?x=1" << true << true;
    QTest::newRow("plain web page") << "HTTP://course.test/" << true << true;
    QTest::newRow("mail") << "mailto:teacher@school.test" << true << true;
    QTest::newRow("unregistered: nothing") << "https://course.test/page?x=1" << false << false;
    QTest::newRow("local file refused") << "file:///etc/passwd" << true << false;
    QTest::newRow("other scheme refused") << "kesttest://course/page" << true << false;
}

void tst_SystemActions::openLink()
{
    QFETCH(QString, url);
    QFETCH(bool, registered);
    QFETCH(bool, opened);
    m_sink.urls.clear();
    const auto root = buildRegistered(call(QStringLiteral("OpenLink"), { url }), registered);

    LogCapture logs;
    const auto worker = runOnWorker(root.get());
    // The GUI thread is blocked here, so the action cannot be waiting for the browser.
    QVERIFY(worker->wait(5000));
    QVERIFY(m_sink.urls.isEmpty());
    QCOMPARE(logs.count(QStringLiteral("Open link: ") + url), registered ? 1 : 0);
    if (opened) {
        QTRY_COMPARE(m_sink.urls, QList<QUrl> { QUrl(url) });
        QVERIFY(m_sink.onGuiThread);
    } else {
        QVERIFY(drainEvents(qApp)); // a URL handed over would have reached the sink by now
        QVERIFY(m_sink.urls.isEmpty());
    }
}

void tst_SystemActions::closeApp()
{
    // The script has ended, so a quit it asked for is queued already and ends the loop with 0 in
    // the pass that runs the first hop; the second hop, queued from the first, comes a pass later.
    const auto exitCode = [] {
        QEventLoop loop;
        QMetaObject::invokeMethod(
            &loop,
            [&loop] {
                QMetaObject::invokeMethod(
                    &loop, [&loop] { loop.exit(2); }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        return loop.exec();
    };

    const auto stopped = buildRegistered(QStringLiteral("<CloseApp/>"), true);
    stopped->skipObject = true;
    QVERIFY(runOnWorker(stopped.get())->wait(5000));
    QCOMPARE(exitCode(), 2);

    LogCapture logs;
    const auto root = buildRegistered(QStringLiteral("<CloseApp/>"), false);
    QVERIFY(runOnWorker(root.get())->wait(5000));
    QCOMPARE(logs.count(QStringLiteral("Close App!")), 1);
    QCOMPARE(exitCode(), 0); // quit() ends the GUI thread's running event loops with 0
}

QTEST_MAIN(tst_SystemActions)
#include "tst_systemactions.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The demo course as a screen reader meets it: the course runs on a virtual X server with the
// accessibility bridge on, and a probe speaking the desktop's accessibility protocol lists its
// buttons and pictures and presses one.
#include "actionregistry.h"
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestproject.h"
#include "kestthread.h"
#include "testfiles.h"
#include "variablestore.h"
#include "webview.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <cstdio>

namespace {

const QString CourseFolder = QStringLiteral(KEST_SOURCE_DIR "/demo/course/");
const QString Probe = QStringLiteral(KEST_SOURCE_DIR "/tests/app/accessibility_probe.py");
const QString AppName = QStringLiteral("kestora-a11y");
const QString BusLauncher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
const QString Python = QStringLiteral("/usr/bin/python3");

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// The child: the demo course in a window, reporting "ready" and every click on stdout.
int runCourse(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(AppName);
    kestApplication hub;
    kestRegisterActions();
    QTemporaryDir user;
    const QString folder = user.path() + QLatin1Char('/');
    if (!copyTree(CourseFolder, folder))
        return 1;
    kestVariables::assignVariable(QStringLiteral("USERPATH"), folder);
    kestVariables::assignVariable(QStringLiteral("INIPATH"), folder);
    hub.setProjectPath(folder);

    QWidget host;
    host.resize(1600, 900);
    host.show();
    auto *project = new kestProject(&host);
    new kestCommandRouter(&hub, project);
    if (!project->loadProject(folder + QStringLiteral("tavelo.avx")))
        return 1;
    WebView *bridge = project->webView();
    QObject::connect(
        bridge, &WebView::clickedEntity, [](const QString &name) { say(QStringLiteral("clicked ") + name); });
    say(QStringLiteral("ready"));
    const int status = application.exec();
    kestThread::shutdownAll(10000);
    return status;
}

// Starts a helper that prints one line when it is up; that line, or empty on failure.
QString startAndRead(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return QString();
    QElapsedTimer waited;
    waited.start();
    while (!process.canReadLine() && waited.elapsed() < 60000)
        process.waitForReadyRead(1000);
    return QString::fromUtf8(process.readLine()).trimmed();
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

} // namespace

class tst_Accessibility : public QObject
{
    Q_OBJECT
private slots:
    void screenReaderSeesTheDemo();
};

void tst_Accessibility::screenReaderSeesTheDemo()
{
    for (const QString &tool : { QStringLiteral("Xvfb"), QStringLiteral("dbus-daemon") }) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(tool + QStringLiteral(" is not installed (tools/deps.sh)")));
    }
    if (!QFileInfo(BusLauncher).isExecutable()
        || QProcess::execute(Python, { QStringLiteral("-c"), QStringLiteral("import pyatspi") }) != 0)
        QSKIP("at-spi2-core or python3-pyatspi is not installed (tools/deps.sh)");

    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    QProcess bus, display, course, launcher, probe;
    const auto cleanup = qScopeGuard([&] {
        stop(launcher);
        stop(course);
        stop(display);
        stop(bus);
    });

    // A session bus and an X server of our own.
    const QString address = startAndRead(bus, QStringLiteral("dbus-daemon"),
        QStringList { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
    QVERIFY2(!address.isEmpty(), "no session bus");
    const QString screen = startAndRead(display, QStringLiteral("Xvfb"),
        QString::fromLatin1("-displayfd 1 -screen 0 1600x900x24 -nolisten tcp").split(QLatin1Char(' ')));
    QVERIFY2(!screen.isEmpty(), "no X server");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + screen);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    env.remove(QStringLiteral("QT_ACCESSIBILITY"));
    for (QProcess *process : { &course, &launcher, &probe })
        process->setProcessEnvironment(env);

    // The course first: started with the accessibility bus already there, the bridge would not
    // register.
    course.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QCOMPARE(startAndRead(course, QCoreApplication::applicationFilePath(), { QStringLiteral("--course") }),
        QStringLiteral("ready"));
    launcher.start(BusLauncher, { QStringLiteral("--launch-immediately") });
    QVERIFY(launcher.waitForStarted(10000));

    probe.start(Python, { Probe, AppName, QStringLiteral("Start") });
    QVERIFY(probe.waitForFinished(120000));
    const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
    qInfo().noquote() << "The probe found:" << lines.join(QStringLiteral("; "));
    QStringList buttons, images;
    for (const QString &line : lines) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() == 2 && f.first() == QLatin1String("button"))
            buttons << f.last();
        else if (f.size() == 2 && f.first() == QLatin1String("image"))
            images << f.last();
    }
    buttons.sort();
    // Every button of the first scene and of the menu bar, named by its text.
    QCOMPARE(buttons, QString::fromLatin1("Back Help Home Quit Start").split(QLatin1Char(' ')));
    // Pictures by their files; bare bands and backgrounds are left out.
    QVERIFY2(images.contains(QStringLiteral("logo")) && !images.contains(QString()),
        qPrintable(images.join(QLatin1Char(','))));
    QVERIFY(lines.contains(QStringLiteral("pressed\tStart")));

    // The press reached the scene as a click does.
    QElapsedTimer waited;
    waited.start();
    QByteArray said;
    while (!said.contains("clicked Start") && waited.elapsed() < 30000 && course.state() == QProcess::Running) {
        course.waitForReadyRead(1000);
        said += course.readAllStandardOutput();
    }
    QVERIFY2(said.contains("clicked Start"), said.constData());
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--course") == 0)
        return runCourse(argc, argv);
    QCoreApplication application(argc, argv);
    tst_Accessibility test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accessibility.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "authortools.h"

#include "actionregistry.h"
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestora.h"
#include "kestpaths.h"
#include "kestproject.h"
#include "keststartup.h"
#include "kestthread.h"
#include "variablestore.h"
#include "webview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMouseEvent>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWidget>
#include <QXmlStreamWriter>

#include <functional>
#include <memory>

using kestVariables::assignVariable;

namespace kestAuthorTools {

namespace {

constexpr int DefaultWaitMs = 5000;
// How long a step looks for its entity in the scene: scenes change on the GUI thread a little
// after the script that asked for it.
constexpr int FindEntityMs = 5000;

struct Step
{
    int line = 0;
    QString text; // as written, for the report
    QString verb; // click, drop, hover, key, wait-scene, wait-value, wait-idle, expect-scene, expect-value,
                  // expect-ini, screenshot, sleep
    QStringList args;
    int timeoutMs = DefaultWaitMs;
};

struct Outcome
{
    bool ok = true;
    QString detail;
    double seconds = 0;
};

// Parses one line; an empty verb for blank lines and comments, nothing for a line in error.
std::optional<Step> parseStep(const QString &raw, int line, QString *error)
{
    Step step;
    step.line = line;
    const QString text = raw.trimmed();
    step.text = text;
    if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
        return step;
    const QStringList words = text.split(QLatin1Char(' '), QString::SkipEmptyParts);
    const QString verb = words.first();
    auto rest = [&](int from) { return words.mid(from).join(QLatin1Char(' ')); };
    // "VARIABLE = TEXT [MS]" and "GROUP/KEY = TEXT"; for waits a last number is the time limit.
    auto assignment = [&](int from, bool timed) -> bool {
        QString body = rest(from);
        const int equals = body.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return false;
        QString value = body.mid(equals + 1).trimmed();
        if (timed) {
            const int blank = value.lastIndexOf(QLatin1Char(' '));
            bool isNumber = false;
            const int ms = value.mid(blank + 1).toInt(&isNumber);
            if (blank > 0 && isNumber) {
                step.timeoutMs = ms;
                value = value.left(blank).trimmed();
            }
        }
        step.args = QStringList { body.left(equals).trimmed(), value };
        return true;
    };
    bool ok = true;
    if (verb == QLatin1String("click") || verb == QLatin1String("hover")) {
        step.verb = verb;
        step.args = QStringList { rest(1) };
        ok = words.size() > 1;
    } else if (verb == QLatin1String("drop")) {
        step.verb = verb;
        const QString body = rest(1);
        const int on = body.indexOf(QLatin1String(" on "));
        step.args = QStringList { body.left(on).trimmed(), body.mid(on + 4).trimmed() };
        ok = on > 0 && !step.args.last().isEmpty();
    } else if (verb == QLatin1String("key")) {
        step.verb = verb;
        ok = words.size() == 2 && words.at(1) == QLatin1String("back");
    } else if (verb == QLatin1String("wait") && words.size() > 2 && words.at(1) == QLatin1String("scene")) {
        step.verb = QStringLiteral("wait-scene");
        QStringList name = words.mid(2);
        bool isNumber = false;
        const int ms = name.last().toInt(&isNumber);
        if (isNumber && name.size() > 1) {
            step.timeoutMs = ms;
            name.removeLast();
        }
        step.args = QStringList { name.join(QLatin1Char(' ')) };
    } else if (verb == QLatin1String("wait") && words.size() <= 3 && words.value(1) == QLatin1String("idle")) {
        step.verb = QStringLiteral("wait-idle");
        if (words.size() == 3)
            step.timeoutMs = words.at(2).toInt(&ok);
    } else if (verb == QLatin1String("wait") && words.size() > 2 && words.at(1) == QLatin1String("value")) {
        step.verb = QStringLiteral("wait-value");
        ok = assignment(2, true);
    } else if (verb == QLatin1String("expect") && words.size() > 2 && words.at(1) == QLatin1String("scene")) {
        step.verb = QStringLiteral("expect-scene");
        step.args = QStringList { rest(2) };
    } else if (verb == QLatin1String("expect") && words.size() > 2 && words.at(1) == QLatin1String("value")) {
        step.verb = QStringLiteral("expect-value");
        ok = assignment(2, false);
    } else if (verb == QLatin1String("expect") && words.size() > 2 && words.at(1) == QLatin1String("ini")) {
        step.verb = QStringLiteral("expect-ini");
        ok = assignment(2, false) && step.args.first().contains(QLatin1Char('/'));
    } else if (verb == QLatin1String("screenshot")) {
        step.verb = verb;
        step.args = QStringList { rest(1) };
        ok = words.size() > 1;
    } else if (verb == QLatin1String("sleep")) {
        step.verb = verb;
        step.timeoutMs = words.value(1).toInt(&ok);
        ok = ok && words.size() == 2;
    } else {
        ok = false;
    }
    if (!ok) {
        *error = QStringLiteral("cannot read the step \"%1\"").arg(text);
        return std::nullopt;
    }
    return step;
}

// Runs the course in an offscreen scene and plays steps on it as a learner's mouse would.
class Player
{
public:
    Player(const QString &userFolder)
        : m_userFolder(userFolder)
    { }
    ~Player()
    {
        emit m_app->exitAll();
        kestThread::shutdownAll(10000);
        delete m_project;
    }

    bool start(const QString &courseFolder, const QString &mainDocument, QString *error);
    Outcome run(const Step &step);

private:
    QQuickView *view() const { return m_project->webView() ? m_project->webView()->quickView() : nullptr; }
    QString sceneName() const { return m_project->currentSubProjectName(); }
    // Runs the event loop until done() holds or ms have passed; false on the time limit or when
    // the course has quit the player.
    bool waitFor(const std::function<bool()> &done, int ms);
    QQuickItem *findEntity(const QString &name, QString *detail);
    QPointF centre(QQuickItem *item) const { return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)); }
    void mouse(QEvent::Type type, const QPointF &at, Qt::MouseButton button, Qt::MouseButtons buttons);
    void backKey();
    QImage grab();
    // Notes when the scene changes; a learner's hand cannot click within the player's guard
    // time after a scene change, and a click that fast would be dropped with the change it asks for.
    void observeScene();
    void settle();

    QString m_userFolder;
    std::unique_ptr<kestApplication> m_app;
    std::unique_ptr<QWidget> m_host;
    kestProject *m_project = nullptr;
    bool m_quit = false;
    int m_observedIndex = -1;
    QString m_observedName;
    QElapsedTimer m_sinceChange;
};

bool Player::start(const QString &courseFolder, const QString &mainDocument, QString *error)
{
    kestRegisterActions();
    m_app = std::make_unique<kestApplication>();
    m_host = std::make_unique<QWidget>();
    m_host->resize(1600, 900);
    m_host->show();
    m_project = new kestProject(m_host.get());
    new kestCommandRouter(m_app.get(), m_project);
    m_app->setMainWindow(m_host.get());

    // As start-up leaves it for a course kept in the user folder, without the network: the
    // course is copied there, so recordings and settings land beside it as for a learner.
    QDir().mkpath(m_userFolder);
    if (!kestCopyFolder(courseFolder, m_userFolder, false)) {
        *error = QStringLiteral("cannot copy the course into the user folder ") + m_userFolder;
        return false;
    }
    const QString folder = m_userFolder + QLatin1Char('/');
    assignVariable(QStringLiteral("USERPATH"), folder);
    assignVariable(QStringLiteral("INIPATH"), folder);
    for (const char *name : { "%REPEAT", "%NEXT", "%PREVIOUS", "%RETURN", "%JOYSTICK" })
        assignVariable(QLatin1String(name), QStringLiteral("0"));
    assignVariable(QStringLiteral("DEVICE"), QStringLiteral("windows"));
    Kestora::installDefaultSettings(kestPaths::settingsFile());
    m_app->setProjectPath(folder);
    m_project->loadGlobalSettings();
    if (!m_project->loadProject(folder + mainDocument)) {
        *error = QStringLiteral("the course's project document %1 does not load").arg(mainDocument);
        return false;
    }
    m_project->loadExternVariables(folder + QStringLiteral("variables_win.txt"));
    m_project->setDataFolder(folder);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [this] { m_quit = true; });
    if (!waitFor([this] { return m_project->webView() && m_project->webView()->isLoaded(); }, 20000)) {
        *error = QStringLiteral("the scene did not load");
        return false;
    }
    return true;
}

bool Player::waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        observeScene();
        if (m_quit || clock.elapsed() >= ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, [&loop] { loop.exit(1); });
        // A course that quit the player ends every loop at once with another code.
        if (loop.exec() != 1) {
            m_quit = true;
            return done();
        }
    }
    return true;
}

QQuickItem *Player::findEntity(const QString &name, QString *detail)
{
    QQuickItem *found = nullptr;
    waitFor(
        [&] {
            if (!view() || !view()->rootObject())
                return false;
            for (QQuickItem *item : view()->rootObject()->findChildren<QQuickItem *>(name)) {
                // An entity of the scene left behind waits for its deletion without a parent.
                if (item->parentItem() && item->isVisible() && item->width() > 0 && item->height() > 0) {
                    found = item;
                    return true;
                }
            }
            return false;
        },
        FindEntityMs);
    if (!found)
        *detail = QStringLiteral("no entity %1 is shown in scene \"%2\"").arg(name, sceneName());
    return found;
}

void Player::observeScene()
{
    if (m_project->currentIndex() != m_observedIndex || sceneName() != m_observedName) {
        m_observedIndex = m_project->currentIndex();
        m_observedName = sceneName();
        m_sinceChange.start();
    }
}

void Player::settle()
{
    constexpr int SwitchGuardMs = 100;
    observeScene();
    const qint64 left = SwitchGuardMs - m_sinceChange.elapsed();
    if (left > 0)
        waitFor([] { return false; }, int(left));
}

void Player::mouse(QEvent::Type type, const QPointF &at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    const QPointF global = view()->mapToGlobal(at.toPoint());
    QMouseEvent event(type, at, at, global, button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(view(), &event);
}

QImage Player::grab()
{
    // The offscreen platform cannot read an embedded window back through the window itself: the
    // screen is asked for it then, after the next frame.
    QQuickView *quick = view();
    bool swapped = false;
    const QMetaObject::Connection connection
        = QObject::connect(quick, &QQuickWindow::frameSwapped, [&swapped] { swapped = true; });
    quick->update();
    waitFor([&swapped] { return swapped; }, 2000);
    QObject::disconnect(connection);
    QImage image = quick->grabWindow();
    if (image.isNull() && quick->screen())
        image = quick->screen()->grabWindow(quick->winId()).toImage();
    return image;
}

void Player::backKey()
{
    // What the main window does with the Back key (there is no main window here).
    m_project->runScriptSlot(m_project->currentIndex() != 0 ? 4 : 7);
}

Outcome Player::run(const Step &step)
{
    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    auto fail = [&](const QString &detail) {
        outcome.ok = false;
        outcome.detail = detail;
    };
    const QString verb = step.verb;
    if (verb == QLatin1String("click") || verb == QLatin1String("drop") || verb == QLatin1String("key"))
        settle();
    if (verb == QLatin1String("click")) {
        if (QQuickItem *item = findEntity(step.args.at(0), &outcome.detail)) {
            const QPointF at = centre(item);
            mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
            mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
            mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
        } else {
            outcome.ok = false;
        }
    } else if (verb == QLatin1String("hover")) {
        if (QQuickItem *item = findEntity(step.args.at(0), &outcome.detail))
            mouse(QEvent::MouseMove, centre(item), Qt::NoButton, Qt::NoButton);
        else
            outcome.ok = false;
    } else if (verb == QLatin1String("drop")) {
        QQuickItem *dragged = findEntity(step.args.at(0), &outcome.detail);
        QQuickItem *target = dragged ? findEntity(step.args.at(1), &outcome.detail) : nullptr;
        if (dragged && target) {
            const QPointF from = centre(dragged);
            const QPointF to = centre(target);
            mouse(QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton);
            mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
            constexpr int Moves = 10;
            for (int i = 1; i <= Moves; ++i)
                mouse(QEvent::MouseMove, from + (to - from) * i / Moves, Qt::NoButton, Qt::LeftButton);
            mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
        } else {
            outcome.ok = false;
        }
    } else if (verb == QLatin1String("key")) {
        backKey();
    } else if (verb == QLatin1String("wait-scene")) {
        if (!waitFor([&] { return sceneName() == step.args.at(0); }, step.timeoutMs))
            fail(QStringLiteral("scene \"%1\" after %2 ms").arg(sceneName()).arg(clock.elapsed()));
    } else if (verb == QLatin1String("wait-value")) {
        const QString name = step.args.at(0);
        if (!waitFor([&] { return kestVariables::variableValue(name) == step.args.at(1); }, step.timeoutMs))
            fail(QStringLiteral("%1 is \"%2\" after %3 ms")
                     .arg(name, kestVariables::variableValue(name))
                     .arg(clock.elapsed()));
    } else if (verb == QLatin1String("wait-idle")) {
        // No script runs, and what the last ones sent to the scene has arrived there.
        const bool idle = waitFor([] { return kestThread::liveCount() == 0; }, step.timeoutMs);
        QCoreApplication::processEvents();
        if (!idle)
            fail(QStringLiteral("%1 scripts still run after %2 ms").arg(kestThread::liveCount()).arg(clock.elapsed()));
    } else if (verb == QLatin1String("expect-scene")) {
        if (sceneName() != step.args.at(0))
            fail(QStringLiteral("scene is \"%1\"").arg(sceneName()));
    } else if (verb == QLatin1String("expect-value")) {
        const QString value = kestVariables::variableValue(step.args.at(0));
        if (value != step.args.at(1))
            fail(QStringLiteral("%1 is \"%2\"").arg(step.args.at(0), value));
    } else if (verb == QLatin1String("expect-ini")) {
        QSettings settings(kestPaths::settingsFile(), QSettings::IniFormat);
        const QString value = settings.value(step.args.at(0)).toString();
        if (value != step.args.at(1))
            fail(QStringLiteral("%1 is \"%2\"").arg(step.args.at(0), value));
    } else if (verb == QLatin1String("screenshot")) {
        if (!view() || !grab().save(step.args.at(0)))
            fail(QStringLiteral("cannot write ") + step.args.at(0));
    } else if (verb == QLatin1String("sleep")) {
        waitFor([] { return false; }, step.timeoutMs);
    }
    if (outcome.ok && m_quit && verb != QLatin1String("expect-ini") && verb != QLatin1String("expect-value"))
        fail(QStringLiteral("the course has quit the player"));
    outcome.seconds = clock.nsecsElapsed() / 1e9;
    return outcome;
}

bool writeJUnit(const QString &path, const QString &stepsFile, const QList<Step> &steps, const QList<Outcome> &outcomes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    int failures = 0;
    double total = 0;
    for (const Outcome &o : outcomes) {
        failures += o.ok ? 0 : 1;
        total += o.seconds;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), stepsFile);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(outcomes.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("time"), QString::number(total, 'f', 3));
    for (int i = 0; i < outcomes.size(); ++i) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), stepsFile);
        xml.writeAttribute(
            QStringLiteral("name"), QStringLiteral("%1: %2").arg(steps.at(i).line).arg(steps.at(i).text));
        xml.writeAttribute(QStringLiteral("time"), QString::number(outcomes.at(i).seconds, 'f', 3));
        if (!outcomes.at(i).ok) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), outcomes.at(i).detail);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return file.flush();
}

} // namespace

int play(int argc, char *argv[])
{
    QString course;
    QString stepsFile;
    QString junit;
    QString home;
    bool usage = false;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        if (argument == QLatin1String("--play") && hasValue)
            course = QString::fromLocal8Bit(argv[++i]);
        else if (argument == QLatin1String("--script") && hasValue)
            stepsFile = QString::fromLocal8Bit(argv[++i]);
        else if (argument == QLatin1String("--junit") && hasValue)
            junit = QString::fromLocal8Bit(argv[++i]);
        else if (argument == QLatin1String("--home") && hasValue)
            home = QString::fromLocal8Bit(argv[++i]);
        else
            usage = true;
    }
    QTextStream err(stderr);
    if (usage || course.isEmpty() || stepsFile.isEmpty()) {
        err << "usage: kestora --play COURSE --script STEPS [--junit FILE] [--home DIR]\n";
        return 2;
    }
    const QFileInfo courseInfo(course);
    const QString courseFolder = courseInfo.isDir() ? courseInfo.absoluteFilePath() : courseInfo.absolutePath();
    QString mainDocument = courseInfo.isDir() ? QStringLiteral("tavelo.avx") : courseInfo.fileName();
    if (courseInfo.isDir() && !QFileInfo::exists(courseFolder + QStringLiteral("/tavelo.avx")))
        mainDocument = QDir(courseFolder).entryList({ QStringLiteral("*.avx") }, QDir::Files, QDir::Name).value(0);
    if (!courseInfo.exists() || mainDocument.isEmpty()) {
        err << "kestora: no course at " << course << "\n";
        return 2;
    }

    QFile file(stepsFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        err << "kestora: cannot read " << stepsFile << "\n";
        return 2;
    }
    QList<Step> steps;
    int lineNumber = 0;
    bool stepsValid = true;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        ++lineNumber;
        QString error;
        const std::optional<Step> step = parseStep(line, lineNumber, &error);
        if (!step) {
            err << stepsFile << ':' << lineNumber << ": " << error << "\n";
            stepsValid = false;
        } else if (!step->verb.isEmpty()) {
            steps.append(*step);
        }
    }
    if (!stepsValid)
        return 2;

    // Offscreen, in a user folder of its own; sounds go to no device, so nothing is heard and
    // their ends still arrive.
    std::unique_ptr<QTemporaryDir> temporaryHome;
    if (home.isEmpty()) {
        temporaryHome = std::make_unique<QTemporaryDir>();
        home = temporaryHome->path();
    }
    home = QDir(home).absolutePath();
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qunsetenv("XDG_DOCUMENTS_DIR");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = home + QStringLiteral("/.runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    // Nothing reaches a sound device or a speech service, whatever runs on the machine.
    qputenv("QT_GSTREAMER_PLAYBIN_AUDIOSINK", "fakesink");
    qputenv("PULSE_SERVER", QFile::encodeName(QStringLiteral("unix:") + home + QStringLiteral("/no-sound-server")));
    qputenv("SPEECHD_ADDRESS", QFile::encodeName(QStringLiteral("unix_socket:") + home + QStringLiteral("/no-speech")));
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "kestora.*.debug=false;qml.debug=false");

    QApplication application(argc, argv);
    const QString userFolder
        = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Tavelo");
    QTextStream out(stdout);
    QList<Outcome> outcomes;
    {
        Player player(userFolder);
        QString error;
        if (!player.start(courseFolder, mainDocument, &error)) {
            err << "kestora: " << error << "\n";
            return 1;
        }
        for (const Step &step : steps) {
            const Outcome outcome = player.run(step);
            outcomes.append(outcome);
            out << stepsFile << ':' << step.line << ": " << (outcome.ok ? "ok" : "FAILED") << ": " << step.text;
            if (!outcome.ok)
                out << " (" << outcome.detail << ")";
            out << "\n";
            out.flush();
        }
    }
    if (!junit.isEmpty() && !writeJUnit(junit, stepsFile, steps, outcomes))
        err << "kestora: cannot write " << junit << "\n";
    const bool passed = std::all_of(outcomes.cbegin(), outcomes.cend(), [](const Outcome &o) { return o.ok; });
    return passed ? 0 : 1;
}

} // namespace kestAuthorTools

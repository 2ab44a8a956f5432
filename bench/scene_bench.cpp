// SPDX-License-Identifier: GPL-3.0-or-later
// Scene entry time, memory over a long lesson and click latency, with the real runtime and the
// real scene document on a course it writes itself. Prints key=value lines on stdout.
//   scene_bench timing WORK_FOLDER   enter_ms_0/20/100, per_entity_ms, enter_frame_ms_0/20/100,
//                                    enter_cpu_ms_0/20/100, load_average_1m,
//                                    click_to_command_ms_median
//   scene_bench memory WORK_FOLDER   rss_mb_after_50, rss_mb_after_500 (peak), and the
//                                    resident figures rss_now_mb_after_50/500, over a lesson
//                                    that changes scenes by itself
// bench/scene runs both in a private home folder, offscreen with software rendering.
#include "actionregistry.h"
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestobject.h"
#include "kestproject.h"
#include "kestsubproject.h"
#include "kestthread.h"
#include "scriptbuilder.h"
#include "variablestore.h"
#include "webview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "scene_bench: %s\n", qPrintable(message));
    std::fflush(stderr);
    std::_Exit(1);
}

// Records when a scene object's notify signal arrives.
class Arrival : public QObject
{
    Q_OBJECT
public:
    QElapsedTimer *clock = nullptr;
    qint64 atNs = -1;
public slots:
    void arrived()
    {
        if (atNs < 0)
            atNs = clock->nsecsElapsed();
    }
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// VmHWM (peak) or VmRSS (now) of this process in MiB.
double memoryMb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// CPU time of the calling thread, in ms: unlike the wall clock, it does not grow when other
// programs take the machine's cores.
double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void print(const char *key, double value)
{
    std::printf("%s=%.2f\n", key, value);
    std::fflush(stdout);
}

// The machine's load over the last minute: the figures above depend on it.
double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').first().toDouble() : -1;
}

// Runs the event loop until done() or the time is up; false on time-out. Events are handled as
// they arrive, as in the player's main loop (a 2 ms timer only bounds the wait), and objects
// given back with deleteLater() are deleted, as the main loop does.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(2);
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void idle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    waitFor([&clock, ms] { return clock.elapsed() >= ms; }, ms + 1000);
}

// ---- The course -------------------------------------------------------------------------------

QString xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// Cell i of a grid of five columns below the menu bar, in frame units.
QRect cell(int i, int count)
{
    const int columns = count > 20 ? 10 : 5;
    const int rows = (count + columns - 1) / columns;
    const int w = 1600 / columns;
    const int h = rows > 0 ? 780 / rows : 780;
    return QRect((i % columns) * w + 4, 110 + (i / columns) * h + 4, w - 8, h - 8);
}

// An ordinary scene of count entities: a picture, a text and a click script each; its first
// command moves the entity to the x in the variable Mark. With a next scene, the scene's
// Script_Main goes there after 120 ms.
QString sceneXml(const QString &name, int count, const QString &next)
{
    QString xml = QStringLiteral("  <SubProject>\n    <Name>%1</Name>\n    <Entities>\n").arg(name);
    for (int i = 0; i < count; ++i) {
        const QRect r = cell(i, count);
        xml += QStringLiteral("      <Entity Name=\"E%1\" X=\"%2\" Y=\"%3\" Z=\"%4\" Width=\"%5\" Height=\"%6\" "
                              "Color=\"#%7\" Filename=\"pictures/p%8.png\" Text=\"%9\" TextColor=\"#202020\" "
                              "TextSize=\"28\">\n")
                   .arg(i)
                   .arg(r.x())
                   .arg(r.y())
                   .arg(1 + i % 3)
                   .arg(r.width())
                   .arg(r.height())
                   .arg(QString::number(0x406080 + i * 0x010203, 16).right(6))
                   .arg(i % 4)
                   .arg(xmlEscaped(QStringLiteral("Item %1 of %2").arg(i).arg(name)));
        xml += QStringLiteral(
            "        <Code>Script_Click\n          <ActionList>\n"
            "            <ChangeEntity><Text>E%1</Text><Text>X</Text><Text>(Mark)</Text></ChangeEntity>\n"
            "            <SetValue><Text>Clicks</Text><Text>!+Clicks</Text></SetValue>\n"
            "          </ActionList>\n        </Code>\n      </Entity>\n")
                   .arg(i);
    }
    xml += QStringLiteral("    </Entities>\n    <Code>Script_Main\n      <ActionList>\n"
                          "        <SetValue><Text>Entered</Text><Text>!+Entered</Text></SetValue>\n");
    if (!next.isEmpty())
        xml += QStringLiteral("        <Wait><Number>120</Number></Wait>\n"
                              "        <ChangeLevel><Text>%1</Text></ChangeLevel>\n")
                   .arg(next);
    xml += QStringLiteral("      </ActionList>\n    </Code>\n  </SubProject>\n");
    return xml;
}

// Scenes by name and entity count; with lesson set each goes on to the next by itself, the last
// to the first.
QString courseXml(const QList<QPair<QString, int>> &scenes, bool lesson)
{
    QString xml
        = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Width=\"1600\" Height=\"900\">\n");
    xml += QStringLiteral("  <SubProject MenuBar=\"Top\" X=\"0\" Y=\"0\" Width=\"1600\" Height=\"100\">\n"
                          "    <Name>Menu</Name>\n    <Entities>\n");
    for (int i = 0; i < 3; ++i)
        xml += QStringLiteral("      <Entity Name=\"Menu%1\" X=\"%2\" Y=\"10\" Z=\"195\" Width=\"170\" Height=\"80\" "
                              "Color=\"#86bbd8\" Text=\"Menu %1\" TextSize=\"30\"/>\n")
                   .arg(i)
                   .arg(20 + i * 190);
    xml += QStringLiteral("    </Entities>\n  </SubProject>\n");
    for (int i = 0; i < scenes.size(); ++i)
        xml += sceneXml(
            scenes.at(i).first, scenes.at(i).second, lesson ? scenes.at((i + 1) % scenes.size()).first : QString());
    xml += QStringLiteral("</Project>\n");
    return xml;
}

QString writeCourse(const QString &folder, const QList<QPair<QString, int>> &scenes, bool lesson)
{
    if (!QDir().mkpath(folder + QStringLiteral("/pictures")))
        fail(QStringLiteral("cannot make ") + folder);
    for (int i = 0; i < 4; ++i) {
        QImage image(96, 96, QImage::Format_ARGB32);
        image.fill(QColor::fromHsv(i * 80, 160, 230));
        QPainter painter(&image);
        painter.drawEllipse(8, 8, 80, 80);
        painter.end();
        image.save(folder + QStringLiteral("/pictures/p%1.png").arg(i));
    }
    const QString path = folder + QStringLiteral("/bench.avx");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(courseXml(scenes, lesson).toUtf8()) < 0)
        fail(QStringLiteral("cannot write ") + path);
    return path;
}

// ---- The player ---------------------------------------------------------------------------

struct Player
{
    std::unique_ptr<kestApplication> app;
    std::unique_ptr<QWidget> host;
    kestProject *project = nullptr;
    qint64 lastChange = 0;
    QElapsedTimer wall;

    // With settle, returns once the first scene's scripts have ended.
    void start(const QString &courseFolder, const QString &document, bool settleFirst = true)
    {
        wall.start();
        app = std::make_unique<kestApplication>();
        kestRegisterActions();
        kestVariables::assignVariable(QStringLiteral("USERPATH"), courseFolder + QLatin1Char('/'));
        kestVariables::assignVariable(QStringLiteral("INIPATH"), courseFolder + QLatin1Char('/'));
        kestVariables::assignVariable(QStringLiteral("Mark"), QStringLiteral("0"));
        kestVariables::assignVariable(QStringLiteral("Clicks"), QStringLiteral("0"));
        kestVariables::assignVariable(QStringLiteral("Entered"), QStringLiteral("0"));
        app->setProjectPath(courseFolder + QLatin1Char('/'));
        host = std::make_unique<QWidget>();
        host->resize(1600, 900);
        host->show();
        if (!QTest::qWaitForWindowExposed(host.get()))
            fail(QStringLiteral("the host window was not shown"));
        project = new kestProject(host.get());
        new kestCommandRouter(app.get(), project);
        if (!project->loadProject(document))
            fail(QStringLiteral("the course did not load"));
        if (!waitFor([this] { return project->webView()->isLoaded(); }, 20000))
            fail(QStringLiteral("the scene document did not load"));
        if (!QTest::qWaitForWindowExposed(project->webView()->quickView()))
            fail(QStringLiteral("the scene was not shown"));
        if (settleFirst)
            settle();
        lastChange = wall.elapsed();
    }

    void stop()
    {
        kestThread::shutdownAll(10000);
        delete project;
        project = nullptr;
        kestThread::shutdownAll(10000);
    }

    QQuickView *view() const { return project->webView()->quickView(); }

    QVariant eval(const QString &script) const
    {
        QQuickItem *root = view()->rootObject();
        QQmlExpression expression(qmlContext(root), root, script);
        return expression.evaluate();
    }

    int sceneEntities() const { return eval(QStringLiteral("dynamicEntityLayer.children.length")).toInt(); }

    // No script runs and the scene has drawn what it has.
    void settle()
    {
        if (!waitFor([] { return kestThread::liveCount() == 0; }, 20000))
            fail(QStringLiteral("a script did not end"));
        idle(20);
    }

    // A scene change as a script asks for it; scene changes closer than 100 ms are dropped by
    // the project, so the change waits for that. Returns the time the request took (the scene's
    // entities are created inside it), in cpuMs the GUI thread's CPU time for it and, in
    // frameMs, the time to the next frame shown.
    double change(const QString &scene, int expectedEntities, double *frameMs = nullptr, double *cpuMs = nullptr)
    {
        const qint64 due = lastChange + 102;
        idle(int(std::max<qint64>(0, due - wall.elapsed())));
        QQuickView *quick = view();
        bool swapped = false;
        const QMetaObject::Connection frame
            = QObject::connect(quick, &QQuickWindow::frameSwapped, [&swapped] { swapped = true; });
        QElapsedTimer clock;
        const double cpuStart = threadCpuMs();
        clock.start();
        project->gotoSubProject(scene);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (cpuMs)
            *cpuMs = threadCpuMs() - cpuStart;
        lastChange = wall.elapsed();
        if (project->currentSubProject()->name() != scene)
            fail(QStringLiteral("the change to ") + scene + QStringLiteral(" did not happen"));
        if (sceneEntities() != expectedEntities)
            fail(QStringLiteral("%1 has %2 entities in the scene, not %3")
                     .arg(scene)
                     .arg(sceneEntities())
                     .arg(expectedEntities));
        quick->update();
        if (!waitFor([&swapped] { return swapped; }, 5000))
            fail(QStringLiteral("no frame after the change to ") + scene);
        if (frameMs)
            *frameMs = double(clock.nsecsElapsed()) / 1e6;
        QObject::disconnect(frame);
        return ms;
    }

    // Presses entity E<index> of the current scene and returns the time until its click
    // script's first command (X := Mark; beyond 1600 it leaves the frame and no later click hits
    // it) reached the scene's entity; -1 when it did not.
    double click(int index, int count, int mark)
    {
        QQuickItem *root = view()->rootObject();
        QObject *entity = nullptr;
        // One that left the scene may still wait for its deletion.
        for (QQuickItem *candidate : root->findChildren<QQuickItem *>(QStringLiteral("E%1").arg(index))) {
            if (candidate->parentItem() && !entity)
                entity = candidate;
        }
        if (!entity)
            fail(QStringLiteral("no entity E%1 in the scene").arg(index));
        kestVariables::assignVariable(QStringLiteral("Mark"), QString::number(mark));
        QElapsedTimer clock;
        Arrival arrival;
        arrival.clock = &clock;
        if (!QObject::connect(entity, SIGNAL(lastSetXChanged()), &arrival, SLOT(arrived())))
            fail(QStringLiteral("the entity has no lastSetX"));
        const QRect r = cell(index, count);
        const QSize size = view()->size();
        const QPoint at((r.x() + r.width() / 2) * size.width() / 1600, (r.y() + r.height() / 2) * size.height() / 900);
        clock.start();
        QTest::mousePress(view(), Qt::LeftButton, Qt::NoModifier, at);
        const bool arrived = waitFor([&arrival] { return arrival.atNs >= 0; }, 5000);
        QTest::mouseRelease(view(), Qt::LeftButton, Qt::NoModifier, at);
        QObject::disconnect(entity, nullptr, &arrival, nullptr);
        return arrived ? double(arrival.atNs) / 1e6 : -1;
    }
};

// Silences the debug output of the player and the document (a learner's player writes it to
// a console nobody reads); warnings still go to stderr.
QtMessageHandler s_previousHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    if (s_previousHandler)
        s_previousHandler(type, context, message);
}

int runTiming(const QString &work)
{
    const int rounds
        = qEnvironmentVariableIsSet("KEST_SCENE_ROUNDS") ? qEnvironmentVariableIntValue("KEST_SCENE_ROUNDS") : 15;
    const QList<int> sizes { 0, 20, 100 };
    QList<QPair<QString, int>> scenes;
    for (int n : sizes) {
        scenes << qMakePair(QStringLiteral("S%1a").arg(n), n) << qMakePair(QStringLiteral("S%1b").arg(n), n);
    }
    const QString folder = work + QStringLiteral("/timing-course");
    const QString document = writeCourse(folder, scenes, false);
    Player player;
    player.start(folder, document);

    // Entering a scene of n entities from another of n, the sizes interleaved so that drift of
    // the machine touches all of them alike; the first round warms up and is not counted.
    std::vector<std::vector<double>> enter(sizes.size()), frame(sizes.size()), cpu(sizes.size());
    for (int round = 0; round <= rounds; ++round) {
        for (int s = 0; s < sizes.size(); ++s) {
            const int n = sizes.at(s);
            player.change(QStringLiteral("S%1a").arg(n), n);
            player.settle();
            double frameMs = 0;
            double cpuMs = 0;
            const double ms = player.change(QStringLiteral("S%1b").arg(n), n, &frameMs, &cpuMs);
            player.settle();
            if (round > 0) {
                enter[size_t(s)].push_back(ms);
                frame[size_t(s)].push_back(frameMs);
                cpu[size_t(s)].push_back(cpuMs);
            }
        }
    }
    const char *enterKeys[] = { "enter_ms_0", "enter_ms_20", "enter_ms_100" };
    const char *frameKeys[] = { "enter_frame_ms_0", "enter_frame_ms_20", "enter_frame_ms_100" };
    for (int s = 0; s < sizes.size(); ++s)
        print(enterKeys[s], median(enter[size_t(s)]));
    print("per_entity_ms", (median(enter[2]) - median(enter[0])) / 100.0);
    for (int s = 0; s < sizes.size(); ++s)
        print(frameKeys[s], median(frame[size_t(s)]));
    const char *cpuKeys[] = { "enter_cpu_ms_0", "enter_cpu_ms_20", "enter_cpu_ms_100" };
    for (int s = 0; s < sizes.size(); ++s)
        print(cpuKeys[s], median(cpu[size_t(s)]));

    // Clicks in a scene of 20 where nothing else runs: each entity once, in two entries.
    std::vector<double> clicks;
    int mark = 1;
    for (const QString &scene : { QStringLiteral("S20a"), QStringLiteral("S20b") }) {
        player.change(scene, 20);
        player.settle();
        idle(150);
        for (int i = 0; i < 20; ++i) {
            const double ms = player.click(i, 20, 2000 + mark++);
            if (ms < 0)
                fail(QStringLiteral("the click on E%1 did not reach the scene").arg(i));
            clicks.push_back(ms);
            player.settle();
            idle(30);
        }
    }
    print("load_average_1m", loadAverage());
    print("click_to_command_ms_median", median(clicks));
    std::sort(clicks.begin(), clicks.end());
    print("click_to_command_ms_max", clicks.back());
    player.stop();
    return 0;
}

// A long lesson as a course plays it: every scene waits 120 ms in its Script_Main and goes on
// to the next with ChangeLevel, round a course of 120 scenes of 20 entities (each with a click
// script), in the player's own event loop. More scenes than the first 50 changes visit, so that
// what a scene leaves behind shows.
int runMemory(const QString &work)
{
    const int sceneCount = 120;
    QList<QPair<QString, int>> scenes;
    for (int i = 0; i < sceneCount; ++i)
        scenes << qMakePair(QStringLiteral("L%1").arg(i), 20);
    const QString folder = work + QStringLiteral("/memory-course");
    const QString document = writeCourse(folder, scenes, true);
    const int changes
        = qEnvironmentVariableIsSet("KEST_SCENE_CHANGES") ? qEnvironmentVariableIntValue("KEST_SCENE_CHANGES") : 500;

    Player player;
    player.start(folder, document, false);
    QEventLoop loop;
    int resets = 0;
    QObject::connect(player.project->webView(), &WebView::finishedReset, &loop, [&] {
        // The reset that starts change n + 1 comes after change n is done.
        const int done = resets++;
        if (done == 50) {
            print("rss_mb_after_50", memoryMb("VmHWM:"));
            print("rss_now_mb_after_50", memoryMb("VmRSS:"));
        }
        if (done == changes) {
            print(changes == 500 ? "rss_mb_after_500" : "rss_mb_after_n", memoryMb("VmHWM:"));
            print(changes == 500 ? "rss_now_mb_after_500" : "rss_now_mb_after_n", memoryMb("VmRSS:"));
            loop.quit();
        }
    });
    QTimer::singleShot(
        changes * 1000, &loop, [&] { fail(QStringLiteral("the lesson stalled after %1 changes").arg(resets)); });
    loop.exec();
    player.stop();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() != 3 || (args.at(1) != QLatin1String("timing") && args.at(1) != QLatin1String("memory")))
        fail(QStringLiteral("usage: scene_bench timing|memory WORK_FOLDER"));
    if (!qEnvironmentVariableIsSet("KEST_SCENE_BENCH_LOG"))
        s_previousHandler = qInstallMessageHandler(quietHandler);
    const QString work = QDir(args.at(2)).absolutePath();
    return args.at(1) == QLatin1String("timing") ? runTiming(work) : runMemory(work);
}

#include "scene_bench.moc"

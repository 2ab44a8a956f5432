// SPDX-License-Identifier: GPL-3.0-or-later
// The first reading aloud of a course: a small course whose first scene reads a text as it is
// entered, loaded as the player loads it. Prints key=value lines on stdout.
//   speech_bench early WORK_FOLDER  the engine is built in the background from the program's start
//                                   (as the player does): engine_build_ms, course_to_reading_ms,
//                                   first_reading_ms
//   speech_bench ready WORK_FOLDER  as early, but the course is loaded once the engine is built (a
//                                   start-up that took longer than the build): first_reading_ready_ms
//   speech_bench late WORK_FOLDER   the engine is built only when the first scene's script is
//                                   built (the baseline): first_reading_late_ms
// first_reading_ms is the time from the first PlayTextFile to the engine reporting that it
// speaks. bench/speech runs both with a private sound server and a private home folder.
#include "actionregistry.h"
#include "kestapplication.h"
#include "kestcommandrouter.h"
#include "kestproject.h"
#include "kestthread.h"
#include "speech.h"
#include "variablestore.h"
#include "webview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTest>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

QElapsedTimer s_clock; // from the program's start
std::atomic<qint64> s_sayAt { -1 }; // the first PlayTextFile began
std::atomic<qint64> s_speakingAt { -1 };

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "speech_bench: %s\n", qPrintable(message));
    std::fflush(stderr);
    std::_Exit(1);
}

void print(const char *key, qint64 value)
{
    std::printf("%s=%lld\n", key, static_cast<long long>(value));
    std::fflush(stdout);
}

void handler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    qint64 unset = -1;
    if (message.startsWith(QLatin1String("Say filename: ")))
        s_sayAt.compare_exchange_strong(unset, s_clock.elapsed());
    if (qEnvironmentVariableIsSet("KEST_SPEECH_BENCH_LOG"))
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QString writeCourse(const QString &folder)
{
    if (!QDir().mkpath(folder + QStringLiteral("/texts")))
        fail(QStringLiteral("cannot make ") + folder);
    QFile text(folder + QStringLiteral("/texts/welcome.txt"));
    if (!text.open(QIODevice::WriteOnly) || text.write("Welcome. Put the apple into the basket.\n") < 0)
        fail(QStringLiteral("cannot write the text"));
    const QString path = folder + QStringLiteral("/bench.avx");
    QFile file(path);
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Width=\"1600\" Height=\"900\">\n"
                           "  <SubProject>\n    <Name>Start</Name>\n    <Entities>\n"
                           "      <Entity Name=\"Title\" X=\"100\" Y=\"100\" Z=\"1\" Width=\"600\" Height=\"90\" "
                           "Color=\"#86bbd8\" Text=\"Welcome\" TextSize=\"36\"/>\n"
                           "    </Entities>\n    <Code>Script_Main\n      <ActionList>\n"
                           "        <PlayTextFile><Text>texts\\welcome.txt</Text></PlayTextFile>\n"
                           "      </ActionList>\n    </Code>\n  </SubProject>\n</Project>\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(xml) < 0)
        fail(QStringLiteral("cannot write ") + path);
    return path;
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    return QTest::qWaitFor(done, ms);
}

} // namespace

int main(int argc, char **argv)
{
    s_clock.start();
    QApplication application(argc, argv);
    const QByteArray phase = argc == 3 ? QByteArray(argv[1]) : QByteArray();
    if (phase != "early" && phase != "ready" && phase != "late")
        fail(QStringLiteral("usage: speech_bench early|ready|late WORK_FOLDER"));
    const bool early = phase != "late";
    QLoggingCategory::setFilterRules(QStringLiteral("kestora.*.debug=true"));
    qInstallMessageHandler(handler);

    auto app = std::make_unique<kestApplication>();
    kestSpeech *speech = kestSpeech::instance();
    if (!speech)
        fail(QStringLiteral("no speech engine object"));
    QObject::connect(
        speech, &kestSpeech::speaking, speech,
        [](quint64) {
            qint64 unset = -1;
            s_speakingAt.compare_exchange_strong(unset, s_clock.elapsed());
        },
        Qt::DirectConnection);
    if (early)
        speech->prepare();
    if (phase == "ready" && !waitFor([speech] { return speech->isBuilt(); }, 180000))
        fail(QStringLiteral("the engine was not built"));

    const QString folder = QString::fromLocal8Bit(argv[2]) + QStringLiteral("/course");
    const QString document = writeCourse(folder);
    kestRegisterActions();
    kestVariables::assignVariable(QStringLiteral("USERPATH"), folder + QLatin1Char('/'));
    kestVariables::assignVariable(QStringLiteral("INIPATH"), folder + QLatin1Char('/'));
    app->setProjectPath(folder + QLatin1Char('/'));
    auto host = std::make_unique<QWidget>();
    host->resize(1600, 900);
    host->show();
    auto *project = new kestProject(host.get());
    new kestCommandRouter(app.get(), project);
    if (!project->loadProject(document))
        fail(QStringLiteral("the course did not load"));

    if (!waitFor([] { return s_speakingAt.load() >= 0; }, 180000))
        fail(QStringLiteral("the engine never began to speak"));
    if (s_sayAt.load() < 0)
        fail(QStringLiteral("no PlayTextFile was seen"));
    if (phase == "early") {
        print("engine_build_ms", speech->buildMs());
        print("course_to_reading_ms", s_sayAt.load());
        print("first_reading_ms", s_speakingAt.load() - s_sayAt.load());
    } else if (phase == "ready") {
        print("first_reading_ready_ms", s_speakingAt.load() - s_sayAt.load());
    } else {
        print("first_reading_late_ms", s_speakingAt.load() - s_sayAt.load());
    }
    kestThread::shutdownAll(10000);
    delete project;
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Times the player's start on a course against the floor program (startup_floor) and prints
// key=value lines. The moments compared: the player's first scene starting its Script_Main, and
// the floor's one item completed; both before any window is shown. Each is taken when its line
// arrives here, counted from just before the process is started. bench/startup runs this with a display
// and a sound server; the home folder given here is the only one the programs see, and its
// course folder is renewed for every run.
//   startup_bench PLAYER FLOOR COURSE_FOLDER HOME_FOLDER RUNS
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

// The line the player writes when the first scene's main script starts.
const QByteArray PlayerMarker("BranchManager::run         ->Script_Main priority: 3");
const QByteArray PlayerOffline("Verbindung Hergestellt? Nein");
// One batch for the menu bar, one for the first scene's entities: then the scene is up.
const QByteArray PlayerSceneBatch("batchEntityInit end");
const QByteArray FloorMarker("startup_floor: item completed");
const QByteArray FloorFrame("startup_floor: first frame");

// Time allowed for the moment to arrive, and after it for the first scene to be shown.
constexpr qint64 StartTimeoutMs = 30000;
constexpr qint64 SceneTimeoutMs = 15000;
// Time the program is left running once shown, so that its peak memory includes drawing.
constexpr qint64 SettleMs = 500;

// The deployment file written beside the player for the runs; removed however the runs end.
QString s_deploymentFile;

[[noreturn]] void fail(const QString &message, const QByteArray &output = QByteArray())
{
    if (!s_deploymentFile.isEmpty())
        QFile::remove(s_deploymentFile);
    std::fprintf(stderr, "startup_bench: %s\n", qPrintable(message));
    if (!output.isEmpty()) {
        const QList<QByteArray> lines = output.trimmed().split('\n');
        std::fprintf(stderr, "---- last lines of its output:\n");
        for (int i = std::max(0, lines.size() - 25); i < lines.size(); ++i)
            std::fprintf(stderr, "%s\n", lines.at(i).constData());
    }
    std::exit(1);
}

struct Sample
{
    double startMs = 0; // process start to the moment, as seen by this reader
    double peakRssMb = 0; // VmHWM once the window was shown
};

// Peak resident set of a running process, in MiB; 0 when unreadable.
double peakRssMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// Starts program, times the arrival of the output line with marker, waits until the line with
// shown has arrived shownCount times and a little longer, reads the peak memory and ends the
// program with SIGTERM. Any deviation ends the benchmark with the program's last lines.
Sample measure(const QString &program, const QProcessEnvironment &environment, const QByteArray &marker,
    const QByteArray &shown, int shownCount, const std::function<void(const QByteArray &)> &check)
{
    const QString name = QFileInfo(program).fileName();
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray output;

    QElapsedTimer clock;
    clock.start();
    process.start(program, QStringList(), QIODevice::ReadOnly);

    // Reads until done() or the deadline (ms on the clock); false when the time ran out or the
    // program ended.
    const auto readUntil = [&](const std::function<bool()> &done, qint64 deadline) {
        while (!done()) {
            const qint64 left = deadline - clock.elapsed();
            if (left <= 0)
                return false;
            if (process.waitForReadyRead(int(left)))
                output += process.readAll();
            else if (process.state() == QProcess::NotRunning)
                return false;
        }
        return true;
    };

    Sample sample;
    if (!readUntil([&] { return output.contains(marker); }, StartTimeoutMs))
        fail(name + QStringLiteral(" did not reach its start-up moment"), output);
    sample.startMs = double(clock.nsecsElapsed()) / 1e6;
    check(output);

    if (!readUntil([&] { return output.count(shown) >= shownCount; }, clock.elapsed() + SceneTimeoutMs))
        fail(name + QStringLiteral(" did not show its window"), output);
    readUntil([] { return false; }, clock.elapsed() + SettleMs);
    if (process.state() != QProcess::Running)
        fail(name + QStringLiteral(" ended by itself"), output);
    sample.peakRssMb = peakRssMb(process.processId());

    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
        fail(name + QStringLiteral(" did not end on SIGTERM"), output);
    }
    return sample;
}

// Replaces folder with a copy of source.
void renewFolder(const QString &source, const QString &folder)
{
    if (!QDir(folder).removeRecursively())
        fail(QStringLiteral("cannot remove ") + folder);
    QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QDir().mkpath(folder);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString to = folder + QLatin1Char('/') + QDir(source).relativeFilePath(from);
        const bool copied = it.fileInfo().isDir() ? QDir().mkpath(to) : QFile::copy(from, to);
        if (!copied)
            fail(QStringLiteral("cannot copy ") + from);
    }
}

// A loopback port that is bound but does not listen: a connection to it is refused at once,
// and no other program can take it while this socket is open. Returns the port.
int refusingPort(int &socketFd)
{
    socketFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socketFd < 0 || ::bind(socketFd, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::getsockname(socketFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        fail(QStringLiteral("cannot reserve a loopback port"));
    return ntohs(address.sin_port);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString joined(const std::vector<double> &values)
{
    QStringList texts;
    for (double value : values)
        texts << QString::number(value, 'f', 1);
    return texts.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    const int runs = args.size() == 6 ? args.at(5).toInt() : 0;
    if (runs < 1)
        fail(QStringLiteral("usage: startup_bench PLAYER FLOOR COURSE_FOLDER HOME_FOLDER RUNS"));
    const QString player = QFileInfo(args.at(1)).absoluteFilePath();
    const QString floor = QFileInfo(args.at(2)).absoluteFilePath();
    const QString course = QFileInfo(args.at(3)).absoluteFilePath();
    const QString home = QFileInfo(args.at(4)).absoluteFilePath();
    if (!QFileInfo(course + QStringLiteral("/tavelo.avx")).isFile())
        fail(QStringLiteral("no course in ") + course);
    // Its Documents/Tavelo is wiped on every run: only a folder made for the benchmark will do.
    if (!QFileInfo(home + QStringLiteral("/.startup-bench-home")).isFile())
        fail(QStringLiteral("not a home folder made for the benchmark (no .startup-bench-home): ") + home);

    // The programs get the private home; its caches (compiled QML, the GStreamer registry) are
    // kept from run to run, as on a learner's machine. The documents folder must come from HOME.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    environment.remove(QStringLiteral("XDG_DOCUMENTS_DIR"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("kestora.*.debug=true;qml.debug=true"));
    const QString courseFolder = home + QStringLiteral("/Documents/Tavelo");

    // Every run starts offline: the player's network probe goes to a port that refuses, whatever
    // else listens on this machine. The setting lies beside the player, in the bench's build.
    int probeSocket = -1;
    const int probePort = refusingPort(probeSocket);
    s_deploymentFile = QFileInfo(player).absolutePath() + QStringLiteral("/kestora.ini");
    {
        QSettings deployment(s_deploymentFile, QSettings::IniFormat);
        deployment.setValue(
            QStringLiteral("Deployment/ProbeUrl"), QStringLiteral("http://127.0.0.1:%1/").arg(probePort));
    }

    const auto checkOffline = [](const QByteArray &output) {
        if (!output.contains(PlayerOffline))
            fail(QStringLiteral("the player did not start offline"), output);
    };
    const auto noCheck = [](const QByteArray &) {};
    const auto runPlayer = [&] {
        renewFolder(course, courseFolder);
        return measure(player, environment, PlayerMarker, PlayerSceneBatch, 2, checkOffline);
    };
    const auto runFloor = [&] { return measure(floor, environment, FloorMarker, FloorFrame, 1, noCheck); };

    // The first runs fill the caches; they are not counted.
    const Sample coldPlayer = runPlayer();
    runFloor();

    // Alternating, so that a slow spell of the machine hits both alike.
    std::vector<double> playerMs, floorMs, playerRss, floorRss;
    for (int i = 0; i < runs; ++i) {
        const Sample p = runPlayer();
        playerMs.push_back(p.startMs);
        playerRss.push_back(p.peakRssMb);
        const Sample f = runFloor();
        floorMs.push_back(f.startMs);
        floorRss.push_back(f.peakRssMb);
    }
    QFile::remove(s_deploymentFile);
    ::close(probeSocket);

    std::fprintf(stderr, "player ms: %s\nfloor ms:  %s\n", qPrintable(joined(playerMs)), qPrintable(joined(floorMs)));
    const double startup = median(playerMs);
    const double floorMedian = median(floorMs);
    std::printf("runs=%d\n", runs);
    std::printf("startup_ms_median=%.1f\n", startup);
    std::printf("floor_ms_median=%.1f\n", floorMedian);
    std::printf("ratio=%.2f\n", startup / floorMedian);
    std::printf("peak_rss_mb=%.1f\n", *std::max_element(playerRss.begin(), playerRss.end()));
    std::printf("startup_ms_cold=%.1f\n", coldPlayer.startMs);
    std::printf("floor_peak_rss_mb=%.1f\n", *std::max_element(floorRss.begin(), floorRss.end()));
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Course delivery figures for bench/install, as key=value lines:
//   install_bench install USERFOLDER HOST CREDENTIALS TITLE   one start's catalogue phase and
//       installation of the course TITLE with its progress window (offscreen): install_s, files
//   install_bench scan DOCUMENT   the three scanners on one project document: scan_ms, scan_cpu_ms
//       (the processor time it took, which the machine's load does not stretch), names,
//       scan_peak_rss_mb (the whole process's peak resident memory), load_average_1m
#include "courseinstaller.h"
#include "coursescanner.h"
#include "kestprogress.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <ctime>

namespace {

double peakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// The machine's load over the last minute: scan_ms depends on it.
double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').first().toDouble() : -1;
}

int install(const QStringList &args)
{
    const QString userFolder = args.at(0);
    CourseInstaller installer(userFolder, args.at(1), args.at(2));
    KestProgress progress;
    QElapsedTimer clock;
    clock.start();
    if (!installer.readCatalogues(true)) {
        std::fprintf(stderr, "install_bench: no catalogue from %s\n", qPrintable(args.at(1)));
        return 1;
    }
    const bool window = qEnvironmentVariableIsEmpty("KEST_BENCH_NO_WINDOW");
    if (window)
        progress.show();
    installer.installAndMerge(args.at(3), window ? &progress : nullptr);
    progress.hide();
    const double seconds = clock.nsecsElapsed() / 1e9;
    int files = 0;
    for (QDirIterator it(installer.courseFolder(), QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++files;
    std::printf("install_s=%.3f\nfiles=%d\n", seconds, files);
    return installer.downloadError() ? 1 : 0;
}

int scan(const QString &document)
{
    // The document in a course folder of its own, with a variables file naming a few files;
    // list files are "fetched" as empty files so the scan reads them as it would after a fetch.
    QTemporaryDir course;
    QFile::copy(document, course.filePath(QStringLiteral("part.avx")));
    QFile variables(course.filePath(QStringLiteral("variables_win.txt")));
    if (variables.open(QIODevice::WriteOnly)) {
        QTextStream out(&variables);
        out << "[Global]\n";
        for (int i = 0; i < 200; ++i)
            out << "Sound" << i << "=sounds\\v" << i << ".mp3\n";
    }
    variables.close();
    CourseScanner scanner([](const QString &folder, const QString &name, const QString &) {
        QFile file(folder + QLatin1Char('/') + name.trimmed());
        return file.open(QIODevice::WriteOnly);
    });
    const QString folder = course.path() + QLatin1Char('/');
    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpuStart = std::clock();
    QStringList names;
    scanner.collectVariableFileReferences(folder + QStringLiteral("variables_win.txt"),
        QStringLiteral("/variables_win.txt"), names, QStringLiteral("http://u:p@127.0.0.1:1/tavelo/c/part.avx"));
    const QStringList found = scanner.collectProjectReferences(
        {}, folder + QStringLiteral("part.avx"), folder, QStringLiteral("http://u:p@127.0.0.1:1/tavelo/c/part.avx"));
    const double ms = clock.nsecsElapsed() / 1e6;
    const double cpuMs = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
    std::printf("scan_ms=%.1f\nscan_cpu_ms=%.1f\nnames=%d\nscan_peak_rss_mb=%.1f\nload_average_1m=%.2f\n", ms, cpuMs,
        int(names.size() + found.size()), peakRssMb(), loadAverage());
    return found.isEmpty() ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    // The scan needs no widgets: its memory figure should not carry theirs.
    if (argc == 3 && qstrcmp(argv[1], "scan") == 0) {
        QCoreApplication application(argc, argv);
        return scan(application.arguments().at(2));
    }
    QApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    if (args.size() == 5 && args.first() == QLatin1String("install"))
        return install(args.mid(1));
    std::fprintf(stderr, "usage: install_bench install USERFOLDER HOST CREDENTIALS TITLE | scan DOCUMENT\n");
    return 2;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Course checker figures for bench/check, as key=value lines:
//   check_bench KEY PATH   checks PATH (a course folder or document) as "kestora --check" does,
//       output formatted, and prints KEY_check_ms, KEY_check_cpu_ms (the processor time it took,
//       which a busy machine disturbs less than the wall clock), KEY_parse_ms (the baseline: the DOM parse the
//       player makes of the same documents on load) and KEY_problems.
#include "coursecheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <ctime>

namespace {

double domParseMs(const QString &path)
{
    QStringList documents;
    if (QFileInfo(path).isDir()) {
        for (const QString &name : QDir(path).entryList({ QStringLiteral("*.avx") }, QDir::Files))
            documents.append(path + QLatin1Char('/') + name);
    } else {
        documents.append(path);
    }
    QElapsedTimer clock;
    clock.start();
    for (const QString &document : documents) {
        QFile file(document);
        QDomDocument doc;
        if (file.open(QIODevice::ReadOnly))
            doc.setContent(&file);
    }
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: check_bench KEY PATH\n");
        return 2;
    }
    const QString key = args.at(0);
    // Once to warm the file cache, as the baseline's run below finds it warm too.
    kestCheck::check({ args.at(1) });
    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpuStart = std::clock();
    const kestCheck::Report report = kestCheck::check({ args.at(1) });
    const QString text = kestCheck::formatText(report);
    const double checkMs = clock.nsecsElapsed() / 1e6;
    const double cpuMs = double(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
    const double parseMs = domParseMs(args.at(1));
    const QByteArray k = key.toUtf8();
    std::printf("%s_check_ms=%.1f\n%s_check_cpu_ms=%.1f\n%s_parse_ms=%.1f\n%s_problems=%d\n", k.constData(), checkMs,
        k.constData(), cpuMs, k.constData(), parseMs, k.constData(), int(report.problems.size()));
    return text.isEmpty() ? 1 : 0;
}

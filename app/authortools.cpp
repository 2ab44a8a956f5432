// SPDX-License-Identifier: GPL-3.0-or-later
#include "authortools.h"

#include "coursecheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <cstring>

namespace kestAuthorTools {

std::optional<int> run(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0)
            return check(argc, argv);
        if (std::strcmp(argv[i], "--play") == 0)
            return play(argc, argv);
    }
    return std::nullopt;
}

int check(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString usage = QStringLiteral("usage: kestora --check PATH... [--format text|json]\n");
    QStringList paths;
    QString format = QStringLiteral("text");
    const QStringList arguments = application.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--check"))
            continue;
        if (argument == QLatin1String("--format") && i + 1 < arguments.size()) {
            format = arguments.at(++i);
        } else if (argument.startsWith(QLatin1String("--format="))) {
            format = argument.mid(9);
        } else if (argument.startsWith(QLatin1String("--"))) {
            err << "kestora: unknown option " << argument << "\n" << usage;
            return 2;
        } else {
            paths.append(argument);
        }
    }
    if (paths.isEmpty() || (format != QLatin1String("text") && format != QLatin1String("json"))) {
        err << usage;
        return 2;
    }

    const kestCheck::Report report = kestCheck::check(paths);
    if (format == QLatin1String("json")) {
        out.flush();
        QFile stdOut;
        stdOut.open(stdout, QIODevice::WriteOnly);
        stdOut.write(kestCheck::formatJson(report));
    } else {
        out << kestCheck::formatText(report);
    }
    out.flush();
    for (const QString &path : report.unreadable)
        err << "kestora: cannot read " << path << ": no course folder, project document or catalogue\n";
    if (!report.unreadable.isEmpty())
        return 2;
    return report.errors() > 0 ? 1 : 0;
}

} // namespace kestAuthorTools

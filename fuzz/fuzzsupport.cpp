// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>
#include <cstdlib>

namespace kestFuzz {

void initialise(int *argc, char ***argv)
{
    if (QCoreApplication::instance())
        return;
    // Lives until the process ends; the fuzzer never returns to a point where it could go.
    new QCoreApplication(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kestora.*.debug=false\nkestora.*.warning=false"));
}

QString scratchFolder()
{
    static const QString folder = [] {
        const QString path
            = QDir::tempPath() + QStringLiteral("/kest-fuzz-") + QString::number(QCoreApplication::applicationPid());
        QDir(path).removeRecursively();
        if (!QDir().mkpath(path)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
            std::abort();
        }
        return path;
    }();
    return folder;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

QList<QByteArray> sections(const uint8_t *data, size_t size, int count)
{
    QList<QByteArray> found;
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    int start = 0;
    while (found.size() < count - 1) {
        const int end = input.indexOf('\0', start);
        if (end < 0)
            break;
        found << input.mid(start, end - start);
        start = end + 1;
    }
    found << input.mid(start);
    return found;
}

} // namespace kestFuzz

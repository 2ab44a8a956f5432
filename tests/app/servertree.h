// SPDX-License-Identifier: GPL-3.0-or-later
// The course server's tree for a test: a copy of a tree under tests/data/ whose catalogue
// addresses ("@HOST@") name the test's own server.
#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

inline bool copyServerTree(const QString &from, const QString &to, const QString &host)
{
    QDir(to + QStringLiteral("/tavelo")).removeRecursively();
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        QByteArray content = in.readAll();
        content.replace("@HOST@", host.toUtf8());
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(source);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            return false;
    }
    return true;
}

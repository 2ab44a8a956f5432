// SPDX-License-Identifier: GPL-3.0-or-later
// Reading, writing and copying files for tests. The writers fail the running test when they
// cannot write; copyTree also reports it, for helpers that run outside a test function.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QtTest>

#include <functional>

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes content as the whole file, making its folder first.
inline void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QVERIFY2(file.write(content) == content.size(), qPrintable(path));
}

// Files by their paths below folder, with their texts.
using TestFiles = QMap<QString, QString>;

inline void writeFiles(const QString &folder, const TestFiles &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        writeFile(folder + QLatin1Char('/') + it.key(), it.value().toUtf8());
}

inline void copyFile(const QString &from, const QString &to)
{
    QVERIFY2(QFile::exists(from), qPrintable(from));
    writeFile(to, readFile(from));
}

// Copies every file below from to the same place below to, each through edit when given.
inline bool copyTree(
    const QString &from, const QString &to, const std::function<QByteArray(QByteArray)> &edit = nullptr)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        const QByteArray content = edit ? edit(in.readAll()) : in.readAll();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(source);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            return false;
    }
    return true;
}

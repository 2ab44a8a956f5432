// SPDX-License-Identifier: GPL-3.0-or-later
#include "variableactions.h"

#include "kestlog.h"
#include "variablestore.h"

#include <QFile>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <utility>

using namespace kestVariables;

QString SetValue::execute()
{
    if (!passesRunTest())
        return QString();
    // Arguments first: a Text argument takes the script mutex itself.
    const QString name = argument(0);
    const QString value = argument(1);
    QMutexLocker locker(&scriptMutex());
    assignVariable(name, value);
    return QString();
}

QString GetValue::execute()
{
    return variableValue(argument(0));
}

QString SetRandomValue::execute()
{
    if (!passesRunTest()) {
        qCDebug(lcActions).noquote() << QStringLiteral("Skipobject?");
        return QString();
    }
    const QString name = argument(0);
    const QString lowText = argument(1);
    QString highText = argument(2);
    if (highText.isEmpty())
        highText = lowText;
    qCDebug(lcActions).noquote() << QStringLiteral("Varval2: ") + highText;

    // The process-wide generator, seeded once from the system's random source: reseeding with
    // the time in seconds gave two draws in one second the same value.
    const int r = int(QRandomGenerator::global()->generate() & 0x7fffffff);
    const int low = lowText.toInt(); // a non-number reads as 0
    const int high = highText.toInt();
    // 64 bits: the span of two extreme ints does not fit an int.
    const qint64 span = qint64(high) - low + 1;
    // High one below low leaves no range to draw from: keep the low bound.
    const qint64 result = span == 0 ? low : r % span + low;
    qCDebug(lcActions).noquote() << QStringLiteral("Set Random Value ") + name + QStringLiteral(": rv: ")
            + QString::number(r) + QStringLiteral(" varval: ") + QString::number(low) + QStringLiteral(" varval2: ")
            + QString::number(high) + QStringLiteral(" result: ") + QString::number(result);
    assignVariable(name, QString::number(result));
    return QString();
}

QString ShuffleVariable::execute()
{
    if (!passesSkipTest())
        return QString();
    const QString argumentText = argument(0);
    qCDebug(lcActions).noquote() << QStringLiteral("[LibShufflePosition] : ") + argumentText;

    // An empty group (as after a trailing ";") has no names to hold a tuple.
    QList<QStringList> groups;
    QStringList tuples;
    for (const QString &group : argumentText.split(QLatin1Char(';'), QString::SkipEmptyParts)) {
        const QStringList names = group.split(QLatin1Char('|'));
        QStringList values;
        for (const QString &name : names)
            values.append(variableValue(name));
        groups.append(names);
        tuples.append(values.join(QLatin1Char('|')));
    }

    for (int i = 1; i < tuples.size(); ++i)
        std::swap(tuples[i], tuples[int(QRandomGenerator::global()->bounded(quint32(i + 1)))]);

    for (int i = 0; i < groups.size(); ++i) {
        const QStringList values = tuples.at(i).split(QLatin1Char('|'));
        const QStringList &names = groups.at(i);
        // A shorter tuple from a smaller group leaves the remaining names empty.
        for (int k = 0; k < names.size(); ++k)
            assignVariable(names.at(k), values.value(k));
    }
    qCDebug(lcActions).noquote() << QStringLiteral("[LibShufflePosition] : Module worked fine!");
    return QString();
}

QString GetExternVariableSection::execute()
{
    if (!passesRunTest())
        return QString();
    const QString section = argument(0);
    const QString path = externVariablePath();
    if (!path.isEmpty())
        assignIniSection(path, section);
    qCDebug(lcActions).noquote() << QStringLiteral("[LibGetExternVariableSection]  (") + section + QLatin1Char(')');
    return QString();
}

QString LoadTextfile::execute()
{
    if (!passesRunTest())
        return QString();
    const QString name = argument(0);
    const QString path = resolveUserPath(argument(1));
    qCDebug(lcActions).noquote() << QStringLiteral("[LibLoadTextfile] ") + path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString content = QString::fromUtf8(file.readAll());
    if (content.startsWith(QChar(0xFEFF))) // a byte-order mark is not part of the text
        content.remove(0, 1);
    {
        QMutexLocker locker(&scriptMutex());
        assignVariable(name, content);
    }
    qCDebug(lcActions).noquote() << QStringLiteral("[LibLoadTextfile]  (") + name + QLatin1Char(',') + content
            + QLatin1Char(')');
    return QString();
}

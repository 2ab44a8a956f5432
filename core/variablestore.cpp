// SPDX-License-Identifier: GPL-3.0-or-later
#include "variablestore.h"

#include "kestlog.h"
#include "kestpaths.h"

#include <QFile>
#include <QMap>
#include <QMutex>
#include <QReadWriteLock>
#include <QTextCodec>

namespace kestVariables {

namespace {

struct Store
{
    // Guards values. Reads share it; a write (with the arithmetic that computes it) holds it alone.
    QReadWriteLock lock;
    // Ordered, so substitution goes through the names in a fixed order.
    QMap<QString, QString> values;

    QMutex scriptMutex;

    QMutex settingsLock; // guards the two members below
    QString externPath;
    std::function<QString()> subProjectName;
};

Store &store()
{
    static Store instance;
    return instance;
}

// The helpers below expect the caller to hold store().lock.

QString valueLocked(const QString &name)
{
    return store().values.value(name);
}

QString resolveLocked(const QString &text)
{
    if (text.isEmpty())
        return QString();
    const QString value = valueLocked(text);
    if (!value.isEmpty())
        return value.trimmed();
    if (text.startsWith(QLatin1Char('$')) || text.startsWith(QLatin1Char('%')))
        return QString();
    return text.trimmed();
}

// The "!+" / "!-" forms: operand is value with the marker characters removed.
QString arithmeticLocked(const QString &name, QString operand, QChar sign)
{
    operand.remove(QLatin1Char('!'));
    operand.remove(sign);
    const double direction = sign == QLatin1Char('+') ? 1.0 : -1.0;

    bool ok = false;
    const double amount = resolveLocked(operand).toDouble(&ok);
    if (!ok)
        return operand;
    if (operand == name)
        return formatNumber(amount + direction);
    const double current = valueLocked(name).toDouble(); // a non-number counts as 0
    return formatNumber(current + direction * amount);
}

// Text of a settings file: UTF-8 when it is valid UTF-8, else the Windows code page older course
// files were written in.
QString decodeSettingsText(const QByteArray &data)
{
    QTextCodec::ConverterState state;
    QString text = QTextCodec::codecForName("UTF-8")->toUnicode(data.constData(), data.size(), &state);
    if (state.invalidChars > 0) {
        QTextCodec *legacy = QTextCodec::codecForName("Windows-1252");
        text = legacy ? legacy->toUnicode(data) : QString::fromLatin1(data);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

} // namespace

QString variableValue(const QString &name)
{
    QReadLocker locker(&store().lock);
    return valueLocked(name);
}

QString resolveValue(const QString &text)
{
    QReadLocker locker(&store().lock);
    return resolveLocked(text);
}

void assignVariable(const QString &name, const QString &value)
{
    Store &s = store();
    QWriteLocker locker(&s.lock);
    QString stored;
    if (value.startsWith(QLatin1String("!+"))) {
        stored = arithmeticLocked(name, value, QLatin1Char('+'));
    } else if (value.startsWith(QLatin1String("!-"))) {
        stored = arithmeticLocked(name, value, QLatin1Char('-'));
    } else if (value.startsWith(QLatin1Char('!'))) {
        stored = value;
        stored.remove(QLatin1Char('!'));
    } else if (name.startsWith(QLatin1Char('%'))) {
        stored = value;
    } else {
        stored = resolveLocked(value);
    }
    s.values.insert(name, stored);
}

QString substituteVariables(const QString &text)
{
    QMap<QString, QString> values;
    {
        QReadLocker locker(&store().lock);
        values = store().values; // implicitly shared: the copy is cheap
    }
    QString result = text;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        // An empty name would match between every two characters and flood the path.
        if (!it.key().isEmpty())
            result.replace(it.key(), it.value());
    }
    return result;
}

QString resolveUserPath(const QString &path)
{
    static const QString userPath = QStringLiteral("USERPATH");
    QString result = substituteVariables(path);
    result.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.contains(userPath))
        result = kestPaths::joinPath(variableValue(userPath), result);
    return result;
}

QString formatNumber(double value)
{
    return QString::number(value, 'g', 6);
}

QMutex &scriptMutex()
{
    return store().scriptMutex;
}

bool setExternVariablePath(const QString &candidate)
{
    QFile file(candidate);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcActions).noquote() << QStringLiteral("Failed to open ExternVariable path");
        qCDebug(lcActions).noquote() << QStringLiteral("ExternVariable path is ") + candidate;
        return false;
    }
    // A failed download leaves the server's error page in place of the file.
    const QString firstLine = QString::fromUtf8(file.readLine());
    if (firstLine.contains(QLatin1String("DOCTYPE HTML PUBLIC")))
        return false;
    Store &s = store();
    QMutexLocker locker(&s.settingsLock);
    s.externPath = candidate;
    return true;
}

QString externVariablePath()
{
    Store &s = store();
    QMutexLocker locker(&s.settingsLock);
    return s.externPath;
}

bool assignIniSection(const QString &path, const QString &section)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = decodeSettingsText(file.readAll());

    bool inSection = false;
    for (const QStringRef &rawLine : text.splitRef(QLatin1Char('\n'))) {
        const QStringRef line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2).trimmed() == section;
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (!inSection || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed().toString();
        if (key.isEmpty())
            continue;
        QString value = line.mid(equals + 1).trimmed().toString();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        value.replace(QLatin1Char('/'), QLatin1Char('\\'));
        assignVariable(key, value);
    }
    return true;
}

void setSubProjectNameProvider(std::function<QString()> provider)
{
    Store &s = store();
    QMutexLocker locker(&s.settingsLock);
    s.subProjectName = std::move(provider);
}

QString subProjectName()
{
    // Called under the lock: replacing the provider (when the project goes away) must wait
    // for a call in progress.
    Store &s = store();
    QMutexLocker locker(&s.settingsLock);
    return s.subProjectName ? s.subProjectName() : QString();
}

void clear()
{
    Store &s = store();
    {
        QWriteLocker locker(&s.lock);
        s.values.clear();
    }
    QMutexLocker locker(&s.settingsLock);
    s.externPath.clear();
}

} // namespace kestVariables

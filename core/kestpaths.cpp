// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestpaths.h"

#include "variablestore.h"

#include <QSettings>

namespace kestPaths {

QString joinPath(const QString &folder, const QString &file)
{
    QString left = folder.trimmed().replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString right = file.trimmed().replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool leftSlash = left.endsWith(QLatin1Char('/'));
    const bool rightSlash = right.startsWith(QLatin1Char('/'));
    if (leftSlash && rightSlash)
        left.chop(1);
    else if (!leftSlash && !rightSlash)
        left += QLatin1Char('/');
    return left + right;
}

QString settingsFile()
{
    const QString folder = kestVariables::variableValue(QStringLiteral("INIPATH"));
    if (folder.trimmed().isEmpty())
        return QString();
    return joinPath(folder, QStringLiteral("Tavelo.ini"));
}

QString readSetting(const QString &section, const QString &key)
{
    const QString path = settingsFile();
    if (path.isEmpty() || key.isEmpty())
        return QString();
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(section);
    const QVariant value = settings.value(key);
    // An unquoted value with commas reads as a list; as text it would be lost entirely.
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

} // namespace kestPaths

// SPDX-License-Identifier: GPL-3.0-or-later
#include "coursecatalogue.h"

#include "kestlanguages.h"
#include "kestlog.h"
#include "kestxml.h"

#include <QFile>
#include <QSet>

namespace kestCatalogue {

QString titleForCode(const QString &code)
{
    if (code == QLatin1String("exit"))
        return QStringLiteral("Quit");
    const kestLanguage *language = kestLanguages::forCode(code);
    return language ? QLatin1String(language->title) : QString();
}

QString codeForTitle(const QString &title)
{
    const kestLanguage *language = kestLanguages::forTitle(title);
    return language ? QLatin1String(language->code) : QString();
}

QDomDocument read(const QString &path, bool *readable)
{
    QDomDocument catalogue(QStringLiteral("list"));
    QFile file(path);
    bool ok = true;
    if (file.open(QIODevice::ReadOnly)) {
        QString why;
        ok = kestXml::parse(&file, catalogue, &why);
        if (!ok)
            qCWarning(lcApp).noquote() << QStringLiteral("Course catalogue %1 refused: %2").arg(path, why);
    }
    if (readable)
        *readable = ok;
    return catalogue;
}

QList<QDomElement> courses(const QDomDocument &catalogue)
{
    QList<QDomElement> found;
    QSet<QString> titles;
    const QDomElement root = catalogue.documentElement();
    for (QDomElement course = root.firstChildElement(QStringLiteral("project")); !course.isNull();
         course = course.nextSiblingElement(QStringLiteral("project"))) {
        const QString title = course.attribute(QStringLiteral("Name"));
        if (!titles.contains(title)) {
            titles.insert(title);
            found << course;
        }
    }
    return found;
}

QStringList offeredTitles(const QDomDocument &catalogue)
{
    QStringList titles;
    for (const QDomElement &course : courses(catalogue))
        titles << course.attribute(QStringLiteral("Name"));
    return titles;
}

QDomElement findCourse(const QDomDocument &catalogue, const QString &title)
{
    const QDomElement root = catalogue.documentElement();
    for (QDomElement course = root.firstChildElement(QStringLiteral("project")); !course.isNull();
         course = course.nextSiblingElement(QStringLiteral("project"))) {
        if (course.attribute(QStringLiteral("Name")) == title)
            return course;
    }
    return QDomElement();
}

QList<QDomElement> parts(const QDomElement &course)
{
    QList<QDomElement> found;
    for (QDomElement part = course.firstChildElement(QStringLiteral("part")); !part.isNull();
         part = part.nextSiblingElement(QStringLiteral("part"))) {
        if (part.hasAttribute(QStringLiteral("Url")))
            found << part;
    }
    return found;
}

QString partFileName(const QString &url)
{
    return url.section(QLatin1Char('/'), -1);
}

} // namespace kestCatalogue

// SPDX-License-Identifier: GPL-3.0-or-later
#include "projectdocument.h"

#include "kestlog.h"
#include "kestxml.h"

#include <QFile>

namespace kestDocument {

namespace {
const QString kName = QStringLiteral("Name");
const QString kCode = QStringLiteral("Code");
}

bool load(const QString &path, QDomDocument &doc, QString *errorText)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = file.errorString();
        qCWarning(lcRuntime).noquote()
            << QStringLiteral("Cannot open project document %1: %2").arg(path, file.errorString());
        return false;
    }
    QString message;
    if (!kestXml::parse(&file, doc, &message)) {
        const QString text = path + QLatin1Char(':') + message;
        if (errorText)
            *errorText = text;
        qCWarning(lcRuntime).noquote() << QStringLiteral("Project document refused: ") + text;
        return false;
    }
    return true;
}

QString leadingText(const QDomNode &node)
{
    return node.firstChild().nodeValue();
}

int toInt(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

int intAttribute(const QDomElement &element, const QString &name, int def)
{
    return element.hasAttribute(name) ? toInt(element.attribute(name)) : def;
}

QString subProjectName(const QDomElement &subProject)
{
    QString name = leadingText(subProject.firstChildElement(kName));
    if (name.isEmpty())
        name = leadingText(subProject);
    return name.trimmed();
}

bool isProcedureContainer(const QDomElement &subProject)
{
    for (QDomNode node = subProject.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isText() && node.nodeValue().contains(QLatin1String("PROCEDURES")))
            return true;
    }
    return false;
}

bool isMenuBar(const QDomElement &subProject)
{
    const QString menuBar = QStringLiteral("MenuBar");
    return subProject.hasAttribute(menuBar) && subProject.attribute(menuBar).toLower() != QLatin1String("none");
}

SubProjectKind classify(const QDomElement &subProject)
{
    if (isProcedureContainer(subProject))
        return SubProjectKind::Procedure;
    if (isMenuBar(subProject))
        return SubProjectKind::MenuBar;
    return SubProjectKind::Ordinary;
}

int fixedSlot(const QString &scriptName)
{
    if (scriptName == QLatin1String("Script_Main"))
        return 0;
    static const QString prefix = QStringLiteral("Script_JoystickButton");
    if (scriptName.size() != prefix.size() + 2 || !scriptName.startsWith(prefix))
        return -1;
    const QStringRef digits = scriptName.midRef(prefix.size());
    if (!digits.at(0).isDigit() || !digits.at(1).isDigit())
        return -1;
    const int slot = digits.toInt();
    return slot >= 1 && slot < FixedSlotCount ? slot : -1;
}

QString scriptName(const QDomElement &code)
{
    return leadingText(code).trimmed();
}

SubProjectAttributes readSubProjectAttributes(const QDomElement &subProject)
{
    SubProjectAttributes a;
    a.isMenuBar = isMenuBar(subProject);
    a.menuBarPlacement = subProject.attribute(QStringLiteral("MenuBar")).toLower();
    a.width = intAttribute(subProject, QStringLiteral("Width"), 800);
    a.height = intAttribute(subProject, QStringLiteral("Height"), 800);
    a.x = intAttribute(subProject, QStringLiteral("X"), 200);
    a.y = intAttribute(subProject, QStringLiteral("Y"), 0);
    a.overlay = subProject.attribute(QStringLiteral("Overlay"), QStringLiteral("none"));
    a.keepAspectRatio = subProject.attribute(QStringLiteral("KeepAspectRatio")).toLower() == QLatin1String("true");
    return a;
}

SubProjectContent readSubProjectContent(const QDomElement &subProject)
{
    SubProjectContent c;
    for (QDomElement child = subProject.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == kName) {
            c.name = leadingText(child).trimmed();
            c.hasNameElement = true;
        } else if (tag == QLatin1String("EntityCount")) {
            c.entityCount = toInt(leadingText(child));
        } else if (tag == QLatin1String("Type")) {
            c.type = toInt(leadingText(child));
        } else if (tag == QLatin1String("Velocity")) {
            c.velocity = toInt(leadingText(child));
        } else if (tag == QLatin1String("Entities")) {
            for (QDomElement entity = child.firstChildElement(QStringLiteral("Entity")); !entity.isNull();
                 entity = entity.nextSiblingElement(QStringLiteral("Entity")))
                c.entities.append(entity);
        } else if (tag == kCode) {
            const QString name = scriptName(child);
            const int slot = fixedSlot(name);
            if (slot >= 0)
                c.fixedScripts[size_t(slot)] = child;
            else
                c.namedScripts.insert(name, child);
        }
    }
    return c;
}

EntityData readEntity(const QDomElement &entity, const ValueResolver &resolve)
{
    EntityData e;
    e.effect = intAttribute(entity, QStringLiteral("Effect"));
    e.filename = entity.attribute(QStringLiteral("Filename")).trimmed();
    if (resolve) {
        const QString value = resolve(e.filename);
        if (!value.isEmpty())
            e.filename = value;
    }
    e.name = entity.attribute(kName).trimmed();
    e.function = intAttribute(entity, QStringLiteral("Function"));
    e.stateActive
        = entity.attribute(QStringLiteral("StateActive"), QStringLiteral("true")).toLower() == QLatin1String("true");
    e.dragDrop = entity.attribute(QStringLiteral("DragDrop")) == QLatin1String("True");
    e.text = entity.attribute(QStringLiteral("Text"));
    e.descriptionColor = entity.attribute(QStringLiteral("DescriptionColor")).trimmed().toUInt();
    e.descriptionSize = intAttribute(entity, QStringLiteral("DescriptionSize"));
    for (QDomElement code = entity.firstChildElement(kCode); !code.isNull(); code = code.nextSiblingElement(kCode)) {
        const QString name = scriptName(code);
        if (name == QLatin1String("Script_Click"))
            e.clickScript = code;
        else if (name == QLatin1String("Script_Select"))
            e.selectScript = code;
        else if (name == QLatin1String("Script_Release"))
            e.releaseScript = code;
    }
    return e;
}

ProjectOutline readProject(const QDomDocument &doc)
{
    ProjectOutline outline;
    const QDomElement root = doc.documentElement();
    outline.width = intAttribute(root, QStringLiteral("Width"), 1600);
    outline.height = intAttribute(root, QStringLiteral("Height"), 900);
    for (QDomElement sub = root.firstChildElement(QStringLiteral("SubProject")); !sub.isNull();
         sub = sub.nextSiblingElement(QStringLiteral("SubProject"))) {
        outline.subProjects.append({ subProjectName(sub), classify(sub), sub });
    }
    return outline;
}

} // namespace kestDocument

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDomDocument>
#include <QList>
#include <QMap>
#include <QString>

#include <array>
#include <functional>

// Reading rules of the project document (".avx"): how names, kinds, attributes and scripts
// are taken from the XML. The project and sub-project models build on these; they keep the
// DOM and read an element again each time they rebuild from it.
namespace kestDocument {

constexpr int FixedSlotCount = 15; // Script_Main and Script_JoystickButton01..14

// Parses the file at path into doc. False (with a debug line giving the parser's line, column
// and message) for a missing file or a document that is not well-formed XML.
bool load(const QString &path, QDomDocument &doc, QString *errorText = nullptr);

// The value of the node's first child node: an element's leading text, "" when it has none.
QString leadingText(const QDomNode &node);

// Decimal integer; 0 when the text is not a number.
int toInt(const QString &text);
// def when the attribute is absent.
int intAttribute(const QDomElement &element, const QString &name, int def = 0);

enum class SubProjectKind { Procedure, MenuBar, Ordinary };

// From the first Name child element, else from the leading text; trimmed.
QString subProjectName(const QDomElement &subProject);
// A direct text node holds "PROCEDURES".
bool isProcedureContainer(const QDomElement &subProject);
// A MenuBar attribute whose lower-cased value is not "none".
bool isMenuBar(const QDomElement &subProject);
// Procedure, menu bar, ordinary: tested in that order.
SubProjectKind classify(const QDomElement &subProject);

// The fixed slot of a script name (0 for Script_Main, 1..14 for the joystick buttons), or -1.
int fixedSlot(const QString &scriptName);
// A Code element's name: its leading text, trimmed.
QString scriptName(const QDomElement &code);

struct SubProjectAttributes
{
    bool isMenuBar = false;
    QString menuBarPlacement; // lower-cased MenuBar value, "" when absent
    int width = 800;
    int height = 800;
    int x = 200;
    int y = 0;
    QString overlay = QStringLiteral("none");
    bool keepAspectRatio = false;
};
SubProjectAttributes readSubProjectAttributes(const QDomElement &subProject);

struct SubProjectContent
{
    QString name; // set by a Name child element; empty when there is none
    bool hasNameElement = false;
    int entityCount = 0;
    int type = 0;
    int velocity = 0;
    QList<QDomElement> entities; // Entity elements of every Entities child, in document order
    std::array<QDomElement, FixedSlotCount> fixedScripts; // null where absent
    QMap<QString, QDomElement> namedScripts; // by trimmed name; a later script replaces an earlier
};
SubProjectContent readSubProjectContent(const QDomElement &subProject);

struct EntityData
{
    QString name;
    int effect = 0;
    QString filename;
    int function = 0;
    bool stateActive = true;
    bool dragDrop = false;
    QString text;
    quint32 descriptionColor = 0; // ARGB
    int descriptionSize = 0;
    QDomElement clickScript;
    QDomElement selectScript;
    QDomElement releaseScript;
};

// Maps a Filename to the value of the variable it names; an empty result keeps the Filename.
using ValueResolver = std::function<QString(const QString &)>;
EntityData readEntity(const QDomElement &entity, const ValueResolver &resolve = {});

struct SubProjectEntry
{
    QString name;
    SubProjectKind kind = SubProjectKind::Ordinary;
    QDomElement element;
};

struct ProjectOutline
{
    int width = 1600;
    int height = 900;
    QList<SubProjectEntry> subProjects; // every SubProject child of the root, in document order
};
ProjectOutline readProject(const QDomDocument &doc);

} // namespace kestDocument

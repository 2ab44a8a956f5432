// SPDX-License-Identifier: GPL-3.0-or-later
#include "coursecheck.h"

#include "actionregistry.h"
#include "kestxml.h"
#include "projectdocument.h"
#include "xmltree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <optional>

namespace kestCheck {

int Report::errors() const
{
    return int(std::count_if(
        problems.cbegin(), problems.cend(), [](const Problem &p) { return p.severity == Severity::Error; }));
}

int Report::warnings() const
{
    return problems.size() - errors();
}

namespace {

using Tree = kestXmlTree;
using Element = kestXmlTree::Element;

const QString kVariablesFile = QStringLiteral("variables_win.txt");

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

int editDistance(const QString &a, const QString &b)
{
    std::vector<int> row(size_t(b.size() + 1));
    for (int j = 0; j <= b.size(); ++j)
        row[size_t(j)] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[size_t(j)];
            const int cost = a.at(i - 1) == b.at(j - 1) ? 0 : 1;
            row[size_t(j)] = std::min({ above + 1, row[size_t(j - 1)] + 1, diagonal + cost });
            diagonal = above;
        }
    }
    return row[size_t(b.size())];
}

// The nearest candidate, letter case aside, when it is near enough to be a slip.
QString nearest(const QString &name, const QStringList &candidates)
{
    const QString lower = name.toLower();
    QString best;
    int bestDistance = std::max(2, int(name.size()) / 3) + 1;
    for (const QString &candidate : candidates) {
        const int distance = editDistance(lower, candidate.toLower());
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

QString suggestion(const QString &name, const QStringList &candidates)
{
    const QString best = nearest(name, candidates);
    return best.isEmpty() ? QString() : QStringLiteral(" (did you mean %1?)").arg(quoted(best));
}

const QStringList &actionTags()
{
    static const QStringList tags = kestActionTagNames();
    return tags;
}

// The registry's table by tag name, for lookups at every element.
const QHash<QString, kestActionArguments> &actionTable()
{
    static const QHash<QString, kestActionArguments> table = [] {
        QHash<QString, kestActionArguments> t;
        for (const QString &tag : kestActionTagNames())
            t.insert(tag, *kestActionArgumentCount(tag));
        return t;
    }();
    return table;
}

std::optional<kestActionArguments> argumentCount(const QString &tag)
{
    const auto it = actionTable().constFind(tag);
    return it == actionTable().cend() ? std::nullopt : std::optional<kestActionArguments>(*it);
}

bool isAction(const QString &tag)
{
    return actionTable().contains(tag);
}

// Variables that the player itself sets.
const QSet<QString> &builtinVariables()
{
    static const QSet<QString> names { QStringLiteral("USERPATH"), QStringLiteral("INIPATH"), QStringLiteral("DEVICE"),
        QStringLiteral("%NEXT"), QStringLiteral("%PREVIOUS"), QStringLiteral("%REPEAT"), QStringLiteral("%RETURN"),
        QStringLiteral("$drag"), QStringLiteral("Entitycolor"), QStringLiteral("Backgroundcolor"),
        QStringLiteral("defaultLoadCourse"), QStringLiteral("defaultLoadCoursePath") };
    return names;
}

bool isNumber(const QString &text)
{
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

// A file name as a path below the course folder.
QString normalisedPath(QString name)
{
    name = name.trimmed();
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (name.contains(QLatin1String("//")))
        name.replace(QLatin1String("//"), QLatin1String("/"));
    return name;
}

struct Scene
{
    QString name;
    int element = -1;
    kestDocument::SubProjectKind kind = kestDocument::SubProjectKind::Ordinary;
    int index = -1; // among the ordinary scenes
    QSet<QString> entities;
    QSet<QString> procedures;
};

struct Document
{
    QString path;
    QString display;
    bool report = true;
    bool readable = false;
    Tree tree;
    std::vector<Scene> scenes;
    QHash<QString, int> ordinaryByName;
};

struct VariablesFile
{
    QString display;
    bool exists = false;
    bool report = false;
    QHash<QString, QHash<QString, QString>> sections; // section -> key -> value
    struct Value
    {
        QString value;
        int line;
        int column;
    };
    QList<Value> fileValues; // values that name course files
};

struct Course
{
    QString folder;
    std::vector<Document> documents;
    VariablesFile variables;
    QSet<QString> setVariables;
    bool variablesFromScripts = false; // a variable name is computed: any name may be set
    QSet<QString> recorded; // files that recordings write
    QSet<QString> activated; // entities a script may make active
    bool activatesAny = false;
    QSet<QString> enteredFromOutside; // scenes a LoadFile enters by name
};

class Checker
{
public:
    explicit Checker(Report &report)
        : m_report(report)
    { }

    void checkCourse(Course &course);
    void checkCatalogue(const QString &path, const QString &display);

    Report &m_report;

private:
    void add(const Document &doc, int offset, Severity severity, const QString &rule, const QString &message)
    {
        if (!doc.report)
            return;
        m_report.problems.append(
            { doc.display, doc.tree.lineOf(offset), doc.tree.columnOf(offset), severity, rule, message });
    }
    void add(const Document &doc, int element, const QString &attribute, Severity severity, const QString &rule,
        const QString &message)
    {
        add(doc, doc.tree.attributeOffset(element, attribute), severity, rule, message);
    }

    void readVariables(Course &course);
    void outline(Course &course, Document &doc);
    void collect(Course &course, Document &doc);
    void checkDocument(Course &course, Document &doc);
    void checkAttributes(const Document &doc, int element, const QStringList &allowed);
    void checkChildren(const Document &doc, int element, const QStringList &allowed);
    void checkSubProject(Course &course, Document &doc, const Scene &scene);
    void checkEntity(Course &course, Document &doc, const Scene &scene, int element, QHash<QString, int> &names);
    void checkScript(Course &course, Document &doc, const Scene &scene, int code);
    void checkAction(Course &course, Document &doc, const Scene &scene, int element, bool inLoadFile);
    void checkTextValue(Course &course, Document &doc, int element);
    void checkFile(Course &course, const Document &doc, int offset, const QString &name, const QString &what);
    // What is wrong with a file a course names, if anything.
    std::optional<QString> fileProblem(Course &course, const QString &name, const QString &what);
    void checkReachable(const Course &course, Document &doc);
    void readVariableName(Course &course, Document &doc, int offset, const QString &name, const QString &how);

    // The state of a path below the course folder: exists, differs only in letter case (the
    // name on disk in onDisk), or missing.
    enum class FileState { Exists, CaseDiffers, Missing };
    FileState fileState(const QString &folder, const QString &relative, QString *onDisk);

    QHash<QString, QStringList> m_listings;
};

// Child elements that build actions (marked when the document was read).
std::vector<int> actionChildren(const Tree &tree, int element)
{
    std::vector<int> result;
    for (int child : tree.at(element).children) {
        if (tree.at(child).marked)
            result.push_back(child);
    }
    return result;
}

// The text an argument always yields, when it is a literal: a Text without placeholders,
// parentheses or brackets (trimmed, as Text returns it), or a Number as written.
std::optional<QString> literal(const Tree &tree, int element)
{
    if (element < 0)
        return std::nullopt;
    const Element &e = tree.at(element);
    if (e.tag == QLatin1String("Number") || e.tag == QLatin1String("Boolean"))
        return e.leading;
    if (e.tag != QLatin1String("Text"))
        return std::nullopt;
    const QString &text = e.leading;
    static const QRegularExpression placeholder(QStringLiteral("\\$(DATE|TIME|SUBPROJECT)"));
    if (text.contains(QLatin1Char('(')) || text.contains(QLatin1Char('['))
        || (text.contains(QLatin1Char('$')) && text.contains(placeholder)))
        return std::nullopt;
    return text.trimmed();
}

int argument(const Tree &tree, int element, int k)
{
    for (int child : tree.at(element).children) {
        if (tree.at(child).marked && k-- == 0)
            return child;
    }
    return -1;
}

std::optional<QString> literalArgument(const Tree &tree, int element, int k)
{
    return literal(tree, argument(tree, element, k));
}

QString readText(const QString &path, bool *ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

Checker::FileState Checker::fileState(const QString &folder, const QString &relative, QString *onDisk)
{
    if (QFileInfo::exists(folder + QLatin1Char('/') + relative))
        return FileState::Exists;
    // Walk the path one name at a time, matching each without regard to letter case.
    QString current = folder;
    QString found;
    const QStringList parts = relative.split(QLatin1Char('/'), QString::SkipEmptyParts);
    for (const QString &part : parts) {
        auto listing = m_listings.find(current);
        if (listing == m_listings.end())
            listing = m_listings.insert(
                current, QDir(current).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        const auto match = std::find_if(listing->cbegin(), listing->cend(),
            [&](const QString &entry) { return entry.compare(part, Qt::CaseInsensitive) == 0; });
        if (match == listing->cend())
            return FileState::Missing;
        found += (found.isEmpty() ? QString() : QStringLiteral("/")) + *match;
        current += QLatin1Char('/') + *match;
    }
    if (onDisk)
        *onDisk = found;
    return FileState::CaseDiffers;
}

std::optional<QString> Checker::fileProblem(Course &course, const QString &name, const QString &what)
{
    const QString path = normalisedPath(name);
    if (path.isEmpty() || path.contains(QLatin1String("USERPATH")) || path.contains(QLatin1String("://"))
        || path.contains(QLatin1Char('$')) || path.startsWith(QLatin1Char('/')) || course.recorded.contains(path))
        return std::nullopt;
    QString onDisk;
    switch (fileState(course.folder, path, &onDisk)) {
    case FileState::Exists:
        break;
    case FileState::CaseDiffers:
        return QStringLiteral("%1 %2 is missing: only the letter case differs from %3, which is another file on "
                              "Linux and on a web server")
            .arg(what, quoted(path), quoted(onDisk));
    case FileState::Missing:
        return QStringLiteral("%1 %2 is not in the course folder").arg(what, quoted(path));
    }
    return std::nullopt;
}

void Checker::checkFile(Course &course, const Document &doc, int offset, const QString &name, const QString &what)
{
    if (const auto problem = fileProblem(course, name, what))
        add(doc, offset, Severity::Error, QStringLiteral("missing-file"), *problem);
}

void Checker::readVariables(Course &course)
{
    VariablesFile &vars = course.variables;
    const QString path = course.folder + QLatin1Char('/') + kVariablesFile;
    bool ok = false;
    const QString text = readText(path, &ok);
    vars.exists = ok;
    if (!ok)
        return;
    ++m_report.fileCount;
    static const QStringList extensions { QStringLiteral(".mp3"), QStringLiteral(".txt"), QStringLiteral(".lst"),
        QStringLiteral(".jpg"), QStringLiteral(".png"), QStringLiteral(".avx"), QStringLiteral(".mp4"),
        QStringLiteral(".avi"), QStringLiteral(".wav") };
    QString section;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int equals = lines.at(i).indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = lines.at(i).left(equals).trimmed();
        const QString value = lines.at(i).mid(equals + 1).trimmed();
        vars.sections[section].insert(key, value);
        for (const QString &extension : extensions) {
            if (value.endsWith(extension)) {
                vars.fileValues.append({ value, i + 1, equals + 2 });
                break;
            }
        }
    }
}

// Scenes, their entities and procedures: what references are checked against.
void Checker::outline(Course &, Document &doc)
{
    const Tree &tree = doc.tree;
    const int root = tree.root();
    int ordinary = 0;
    for (int child : tree.at(root).children) {
        const Element &sub = tree.at(child);
        if (sub.tag != QLatin1String("SubProject"))
            continue;
        Scene scene;
        scene.element = child;
        for (int c : sub.children) {
            if (tree.at(c).tag == QLatin1String("Name") && !tree.at(c).leading.isEmpty()) {
                scene.name = tree.at(c).leading.trimmed();
                break;
            }
        }
        if (scene.name.isEmpty())
            scene.name = sub.leading.trimmed();
        const QString menuBar = QStringLiteral("MenuBar");
        if (sub.textHasProcedures)
            scene.kind = kestDocument::SubProjectKind::Procedure;
        else if (sub.attributes.hasAttribute(menuBar)
            && sub.attributes.value(menuBar).toString().toLower() != QLatin1String("none"))
            scene.kind = kestDocument::SubProjectKind::MenuBar;
        else
            scene.index = ordinary++;
        for (int c : sub.children) {
            const Element &e = tree.at(c);
            if (e.tag == QLatin1String("Entities")) {
                for (int entity : e.children) {
                    if (tree.at(entity).tag == QLatin1String("Entity"))
                        scene.entities.insert(
                            tree.at(entity).attributes.value(QLatin1String("Name")).toString().trimmed());
                }
            } else if (e.tag == QLatin1String("Code")) {
                const QString name = e.leading.trimmed();
                if (kestDocument::fixedSlot(name) < 0)
                    scene.procedures.insert(name);
            }
        }
        if (scene.kind == kestDocument::SubProjectKind::Ordinary && !doc.ordinaryByName.contains(scene.name))
            doc.ordinaryByName.insert(scene.name, int(doc.scenes.size()));
        doc.scenes.push_back(std::move(scene));
    }
}

// What any script of the course sets or enables, wherever it stands.
void Checker::collect(Course &course, Document &doc)
{
    const Tree &tree = doc.tree;
    for (int i = 0; !tree.isEmpty() && i < int(tree.size()); ++i) {
        const QString &tag = tree.at(i).tag;
        auto setByArgument = [&](int k) {
            if (const auto name = literalArgument(tree, i, k))
                course.setVariables.insert(*name);
            else
                course.variablesFromScripts = true;
        };
        if (tag == QLatin1String("SetValue") || tag == QLatin1String("SetRandomValue")
            || tag == QLatin1String("LoadTextfile")) {
            setByArgument(0);
        } else if (tag == QLatin1String("GetIniValue") || tag == QLatin1String("SetIniValue")) {
            setByArgument(1);
        } else if (tag == QLatin1String("ShuffleVariable")) {
            if (const auto groups = literalArgument(tree, i, 0)) {
                for (const QString &group : groups->split(QLatin1Char(';')))
                    for (const QString &name : group.split(QLatin1Char('|')))
                        course.setVariables.insert(name);
            } else {
                course.variablesFromScripts = true;
            }
        } else if (tag == QLatin1String("GetExternVariableSection")) {
            if (const auto section = literalArgument(tree, i, 0)) {
                const auto keys = course.variables.sections.value(*section);
                for (auto it = keys.cbegin(); it != keys.cend(); ++it)
                    course.setVariables.insert(it.key());
            } else {
                course.variablesFromScripts = true;
            }
        } else if (tag == QLatin1String("RecordSound")) {
            if (const auto path = literalArgument(tree, i, 0))
                course.recorded.insert(normalisedPath(*path));
        } else if (tag == QLatin1String("ChangeEntity")) {
            const auto attribute = literalArgument(tree, i, 1);
            if (!attribute || attribute->toLower() == QLatin1String("stateactive")) {
                if (const auto entity = literalArgument(tree, i, 0))
                    course.activated.insert(*entity);
                else
                    course.activatesAny = true;
            }
        } else if (tag == QLatin1String("LoadFile")) {
            const int level = argument(tree, i, 1);
            if (level >= 0 && tree.at(level).tag == QLatin1String("ChangeLevel")) {
                if (const auto target = literalArgument(tree, level, 0))
                    course.enteredFromOutside.insert(*target);
            }
        }
    }
}

void Checker::checkAttributes(const Document &doc, int element, const QStringList &allowed)
{
    const Element &e = doc.tree.at(element);
    for (const QXmlStreamAttribute &attribute : e.attributes) {
        const QString name = attribute.qualifiedName().toString();
        if (allowed.contains(name))
            continue;
        add(doc, element, name, Severity::Warning, QStringLiteral("unknown-attribute"),
            QStringLiteral("%1 has no attribute %2; it is ignored%3").arg(e.tag, name, suggestion(name, allowed)));
    }
}

void Checker::checkChildren(const Document &doc, int element, const QStringList &allowed)
{
    const Element &e = doc.tree.at(element);
    for (int child : e.children) {
        const QString &tag = doc.tree.at(child).tag;
        if (allowed.contains(tag))
            continue;
        add(doc, doc.tree.at(child).offset, Severity::Warning, QStringLiteral("unknown-element"),
            QStringLiteral("%1 inside %2 is ignored%3").arg(quoted(tag), e.tag, suggestion(tag, allowed)));
    }
}

void Checker::readVariableName(Course &course, Document &doc, int offset, const QString &name, const QString &how)
{
    if (course.variablesFromScripts || name.isEmpty() || course.setVariables.contains(name)
        || builtinVariables().contains(name)
        || course.variables.sections.value(QStringLiteral("Global")).contains(name))
        return;
    add(doc, offset, Severity::Warning, QStringLiteral("unset-variable"),
        QStringLiteral("%1 %2, which no script and no variables file sets").arg(how, quoted(name)));
}

// Variables a Text reads: parenthesised names and bracket operands.
void Checker::checkTextValue(Course &course, Document &doc, int element)
{
    const QString &text = doc.tree.at(element).leading;
    if (!text.contains(QLatin1Char('(')) && !text.contains(QLatin1Char('[')))
        return;
    const int offset = doc.tree.at(element).offset;
    static const QRegularExpression parenthesis(QStringLiteral("\\(([^()\\[\\]]*)\\)"));
    static const QRegularExpression bracket(QStringLiteral("\\[([^\\[\\]]*)\\]"));
    static const QRegularExpression operators(QStringLiteral("[-+*/]"));
    for (auto it = parenthesis.globalMatch(text); it.hasNext();) {
        const QString inner = it.next().captured(1).trimmed();
        if (!inner.isEmpty() && !isNumber(inner))
            readVariableName(course, doc, offset, inner,
                QStringLiteral("the text shows the variable (the parenthesis vanishes when it is unset)"));
    }
    for (auto it = bracket.globalMatch(text); it.hasNext();) {
        const QStringList operands = it.next().captured(1).split(operators);
        for (int k = 0; k < std::min(2, int(operands.size())); ++k) {
            const QString operand = operands.at(k).trimmed();
            if (!operand.isEmpty() && !isNumber(operand))
                readVariableName(course, doc, offset, operand, QStringLiteral("the arithmetic reads"));
        }
    }
}

void Checker::checkAction(Course &course, Document &doc, const Scene &scene, int element, bool inLoadFile)
{
    const Tree &tree = doc.tree;
    const Element &e = tree.at(element);
    const auto count = argumentCount(e.tag);
    if (!count) {
        add(doc, e.offset, Severity::Error, QStringLiteral("unknown-action"),
            QStringLiteral("%1 is no action; it and everything inside it are skipped%2")
                .arg(quoted(e.tag), suggestion(e.tag, actionTags())));
        return;
    }
    checkAttributes(doc, element, { QStringLiteral("name") });
    const std::vector<int> args = actionChildren(tree, element);
    const int n = int(args.size());
    if (n < count->least || (count->most != kestActionArguments::Unbounded && n > count->most)) {
        const QString takes = count->least == count->most ? QString::number(count->least)
            : count->most == kestActionArguments::Unbounded
            ? QStringLiteral("at least %1").arg(count->least)
            : QStringLiteral("%1 to %2").arg(count->least).arg(count->most);
        add(doc, e.offset, Severity::Error, QStringLiteral("child-count"),
            QStringLiteral("%1 takes %2 child actions, this one has %3").arg(e.tag, takes).arg(n));
    }

    const QString &tag = e.tag;
    const bool anyScene = scene.kind != kestDocument::SubProjectKind::Ordinary;
    if (tag == QLatin1String("Text")) {
        checkTextValue(course, doc, element);
    } else if (tag == QLatin1String("GetValue")) {
        if (const auto name = literalArgument(tree, element, 0))
            readVariableName(course, doc, e.offset, *name, QStringLiteral("GetValue reads"));
    } else if (tag == QLatin1String("SingleCase")) {
        const QString name = e.attributes.value(QLatin1String("name")).toString();
        if (name != QLatin1String("default") && name.toLower() == QLatin1String("default"))
            add(doc, element, QStringLiteral("name"), Severity::Warning, QStringLiteral("case-trap"),
                QStringLiteral("case %1 matches only that text: only \"default\" in lower case matches any value")
                    .arg(quoted(name)));
    } else if (tag == QLatin1String("ChangeLevel") && !inLoadFile) {
        const auto target = literalArgument(tree, element, 0);
        static const QStringList words { QStringLiteral("%NEXT"), QStringLiteral("%PREVIOUS"),
            QStringLiteral("%REPEAT"), QStringLiteral("%RETURN") };
        const bool word = target
            && std::any_of(words.cbegin(), words.cend(), [&](const QString &w) { return target->contains(w); });
        if (target && !word && !doc.ordinaryByName.contains(*target)) {
            QString why = suggestion(*target, doc.ordinaryByName.keys());
            if (why.isEmpty() && isNumber(*target))
                why = QStringLiteral(" (scenes are entered by name, not by number)");
            add(doc, argument(tree, element, 0) >= 0 ? tree.at(argument(tree, element, 0)).offset : e.offset,
                Severity::Error, QStringLiteral("unknown-scene"),
                QStringLiteral("ChangeLevel goes to %1, which is no scene of this document%2")
                    .arg(quoted(*target), why));
        }
    } else if (tag == QLatin1String("CallProcedure")) {
        if (const auto name = literalArgument(tree, element, 0)) {
            bool found = false;
            for (const Scene &s : doc.scenes) {
                const bool searched = s.kind == kestDocument::SubProjectKind::Procedure
                    || (s.kind == kestDocument::SubProjectKind::Ordinary && (anyScene || &s == &scene));
                found = found || (searched && s.procedures.contains(name->trimmed()));
            }
            if (!found) {
                QStringList known;
                for (const Scene &s : doc.scenes)
                    known += s.procedures.values();
                add(doc, tree.at(argument(tree, element, 0)).offset, Severity::Error,
                    QStringLiteral("unknown-procedure"),
                    QStringLiteral("CallProcedure calls %1, which no scene of this document nor a procedure scene "
                                   "has%2")
                        .arg(quoted(*name), suggestion(*name, known)));
            }
        }
    } else if (tag == QLatin1String("ChangeEntity") || tag == QLatin1String("MoveEntity")
        || tag == QLatin1String("RestoreEntityPos") || tag == QLatin1String("PngAnimate")
        || tag == QLatin1String("ShufflePosition")) {
        if (const auto names = literalArgument(tree, element, 0)) {
            const QStringList list
                = tag == QLatin1String("ShufflePosition") ? names->split(QLatin1Char(';')) : QStringList { *names };
            for (const QString &name : list) {
                bool found = false;
                QStringList known;
                for (const Scene &s : doc.scenes) {
                    const bool searched = s.kind == kestDocument::SubProjectKind::MenuBar
                        || (s.kind == kestDocument::SubProjectKind::Ordinary && (anyScene || &s == &scene));
                    if (searched) {
                        found = found || s.entities.contains(name);
                        known += s.entities.values();
                    }
                }
                if (!found)
                    add(doc, tree.at(argument(tree, element, 0)).offset, Severity::Error,
                        QStringLiteral("unknown-entity"),
                        QStringLiteral("%1 names the entity %2, which neither the scene nor a menu bar has%3")
                            .arg(tag, quoted(name), suggestion(name, known)));
            }
        }
    }

    // Files the action reads.
    auto fileArgument = [&](int k, const QString &what) {
        const int arg = argument(tree, element, k);
        if (const auto name = literal(tree, arg))
            checkFile(course, doc, tree.at(arg).offset, *name, what);
    };
    if (tag == QLatin1String("PlaySound") || tag == QLatin1String("kestPlaySound")) {
        fileArgument(0, QStringLiteral("sound"));
    } else if (tag == QLatin1String("PlayList") || tag == QLatin1String("PlayRandom")) {
        fileArgument(0, QStringLiteral("list file"));
    } else if (tag == QLatin1String("PlayTextFile")) {
        // Without the file the name itself is read aloud: only a name that looks like a file counts.
        if (const auto name = literalArgument(tree, element, 0); name && name->endsWith(QLatin1String(".txt")))
            fileArgument(0, QStringLiteral("text file"));
    } else if (tag == QLatin1String("ShowTextfile")) {
        fileArgument(1, QStringLiteral("text file"));
    } else if (tag == QLatin1String("PngAnimate")) {
        fileArgument(2, QStringLiteral("frame list"));
    } else if (tag == QLatin1String("LoadTextfile")) {
        fileArgument(1, QStringLiteral("text file"));
    } else if (tag == QLatin1String("ChangeProject")) {
        fileArgument(0, QStringLiteral("project document"));
    }

    const bool loadFile = tag == QLatin1String("LoadFile");
    for (int child : e.children)
        checkAction(course, doc, scene, child, inLoadFile || loadFile);
}

void Checker::checkScript(Course &course, Document &doc, const Scene &scene, int code)
{
    const Tree &tree = doc.tree;
    const Element &e = tree.at(code);
    if (e.children.empty()) {
        add(doc, e.offset, Severity::Warning, QStringLiteral("empty-script"),
            QStringLiteral("script %1 has no actions: it does nothing").arg(quoted(e.leading.trimmed())));
        return;
    }
    if (e.children.size() > 1)
        add(doc, tree.at(e.children.front()).offset, Severity::Warning, QStringLiteral("child-count"),
            QStringLiteral("script %1 has %2 top-level actions: only the last one runs; put them into one ActionList")
                .arg(quoted(e.leading.trimmed()))
                .arg(e.children.size()));
    const int root = e.children.back();
    // An ActionList with unknown children only is reported as unknown actions.
    if (tree.at(root).tag == QLatin1String("ActionList") && tree.at(root).children.empty())
        add(doc, tree.at(root).offset, Severity::Warning, QStringLiteral("empty-script"),
            QStringLiteral("script %1 has an empty ActionList: it does nothing").arg(quoted(e.leading.trimmed())));
    for (int child : e.children)
        checkAction(course, doc, scene, child, false);
}

namespace {

// A boolean attribute that reads as false although it was surely meant as true, or that has
// blanks around it; true with the message to give.
std::optional<QString> booleanTrap(const QString &name, const QString &value, bool exactTrue)
{
    if (value != value.trimmed())
        return QStringLiteral("%1=%2 has blanks around its value, which is compared as written")
            .arg(name, quoted(value));
    const QString lower = value.toLower();
    if (exactTrue && value != QLatin1String("True") && lower == QLatin1String("true"))
        return QStringLiteral("%1=%2 reads as false: only \"True\", written so, turns it on").arg(name, quoted(value));
    return std::nullopt;
}

} // namespace

void Checker::checkEntity(Course &course, Document &doc, const Scene &scene, int element, QHash<QString, int> &names)
{
    static const QStringList attributes { QStringLiteral("Name"), QStringLiteral("Effect"), QStringLiteral("Filename"),
        QStringLiteral("Function"), QStringLiteral("StateActive"), QStringLiteral("DragDrop"), QStringLiteral("Text"),
        QStringLiteral("DescriptionColor"), QStringLiteral("DescriptionSize"), QStringLiteral("X"), QStringLiteral("Y"),
        QStringLiteral("Z"), QStringLiteral("XROT"), QStringLiteral("YROT"), QStringLiteral("ZROT"),
        QStringLiteral("Width"), QStringLiteral("Height"), QStringLiteral("Type"), QStringLiteral("Color"),
        QStringLiteral("Description"), QStringLiteral("Depth"), QStringLiteral("Subproject"),
        QStringLiteral("BorderColor"), QStringLiteral("BorderSize"), QStringLiteral("TextColor"),
        QStringLiteral("TextSize"), QStringLiteral("TextBackgroundColor"), QStringLiteral("DropRestore"),
        QStringLiteral("ImageFilename") };
    const Tree &tree = doc.tree;
    const Element &e = tree.at(element);
    checkAttributes(doc, element, attributes);
    checkChildren(doc, element, { QStringLiteral("Code") });
    auto value = [&](const char *name) { return e.attributes.value(QLatin1String(name)).toString(); };

    const QString name = value("Name").trimmed();
    const auto previous = names.constFind(name);
    if (previous != names.cend())
        add(doc, element, QStringLiteral("Name"), Severity::Error, QStringLiteral("duplicate-entity"),
            QStringLiteral("a second entity %1 in this scene replaces the one on line %2")
                .arg(quoted(name))
                .arg(tree.lineOf(tree.at(*previous).offset)));
    names.insert(name, element);

    const bool dragDrop = value("DragDrop") == QLatin1String("True");
    if (e.attributes.hasAttribute(QLatin1String("DragDrop"))) {
        if (const auto trap = booleanTrap(QStringLiteral("DragDrop"), value("DragDrop"), true))
            add(doc, element, QStringLiteral("DragDrop"), Severity::Warning, QStringLiteral("case-trap"), *trap);
    }
    bool active = true;
    if (e.attributes.hasAttribute(QLatin1String("StateActive"))) {
        const QString state = value("StateActive");
        active = state.toLower() == QLatin1String("true");
        if (const auto trap = booleanTrap(QStringLiteral("StateActive"), state, false))
            add(doc, element, QStringLiteral("StateActive"), Severity::Warning, QStringLiteral("case-trap"), *trap);
    }

    // Scripts of the entity.
    QHash<QString, int> scripts;
    static const QStringList known { QStringLiteral("Script_Click"), QStringLiteral("Script_Select"),
        QStringLiteral("Script_Release") };
    for (int child : e.children) {
        if (tree.at(child).tag != QLatin1String("Code"))
            continue;
        const QString scriptName = tree.at(child).leading.trimmed();
        if (!known.contains(scriptName)) {
            add(doc, tree.at(child).offset, Severity::Warning, QStringLiteral("unknown-script"),
                QStringLiteral("an entity runs only Script_Click, Script_Select and Script_Release: %1 never runs%2")
                    .arg(quoted(scriptName), suggestion(scriptName, known)));
            continue;
        }
        if (scripts.contains(scriptName))
            add(doc, tree.at(child).offset, Severity::Error, QStringLiteral("duplicate-script"),
                QStringLiteral("a second %1 of this entity replaces the one on line %2")
                    .arg(scriptName)
                    .arg(tree.lineOf(tree.at(scripts.value(scriptName)).offset)));
        scripts.insert(scriptName, child);
        checkScript(course, doc, scene, child);
    }

    if (!active && !scripts.isEmpty() && !course.activatesAny && !course.activated.contains(name))
        add(doc, element, QStringLiteral("StateActive"), Severity::Warning, QStringLiteral("select-on-inactive"),
            QStringLiteral("entity %1 is inactive and no script makes it active: its scripts never run")
                .arg(quoted(name)));

    const bool clickable = scripts.contains(known.at(0)) || kestDocument::toInt(value("Function")) != 0 || dragDrop;
    if (clickable && value("Text").isEmpty() && value("Filename").trimmed().isEmpty()
        && value("ImageFilename").trimmed().isEmpty())
        add(doc, e.offset, Severity::Warning, QStringLiteral("no-label"),
            QStringLiteral(
                "entity %1 can be clicked but has neither Text nor a picture: nothing to see or to read aloud")
                .arg(quoted(name)));

    // Its picture.
    for (const char *attribute : { "Filename", "ImageFilename" }) {
        QString file = value(attribute).trimmed();
        if (file.isEmpty() || file.contains(QLatin1Char('(')))
            continue;
        const QString fromVariable = course.variables.sections.value(QStringLiteral("Global")).value(file);
        if (!fromVariable.isEmpty())
            file = fromVariable;
        else if (course.setVariables.contains(file))
            continue; // a variable that a script fills
        checkFile(
            course, doc, tree.attributeOffset(element, QLatin1String(attribute)), file, QStringLiteral("picture"));
    }
}

void Checker::checkSubProject(Course &course, Document &doc, const Scene &scene)
{
    static const QStringList attributes { QStringLiteral("MenuBar"), QStringLiteral("Width"), QStringLiteral("Height"),
        QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("Overlay"), QStringLiteral("KeepAspectRatio") };
    static const QStringList children { QStringLiteral("Name"), QStringLiteral("EntityCount"), QStringLiteral("Type"),
        QStringLiteral("Velocity"), QStringLiteral("Script"), QStringLiteral("Entities"), QStringLiteral("Code") };
    const Tree &tree = doc.tree;
    const int element = scene.element;
    const Element &e = tree.at(element);
    checkAttributes(doc, element, attributes);
    checkChildren(doc, element, children);

    const QString menuBar = QStringLiteral("MenuBar");
    if (e.attributes.hasAttribute(menuBar)) {
        const QString value = e.attributes.value(menuBar).toString();
        const QString trimmed = value.trimmed().toLower();
        if (value.toLower() != QLatin1String("none") && (trimmed == QLatin1String("none") || trimmed.isEmpty()))
            add(doc, element, menuBar, Severity::Warning, QStringLiteral("case-trap"),
                QStringLiteral("MenuBar=%1 makes this scene a menu bar: only \"none\" without blanks does not")
                    .arg(quoted(value)));
    }
    if (e.attributes.hasAttribute(QLatin1String("KeepAspectRatio"))) {
        if (const auto trap = booleanTrap(QStringLiteral("KeepAspectRatio"),
                e.attributes.value(QLatin1String("KeepAspectRatio")).toString(), false))
            add(doc, element, QStringLiteral("KeepAspectRatio"), Severity::Warning, QStringLiteral("case-trap"), *trap);
    }

    QHash<QString, int> entityNames;
    QHash<QString, int> scripts;
    for (int child : e.children) {
        const Element &c = tree.at(child);
        if (c.tag == QLatin1String("Entities")) {
            checkChildren(doc, child, { QStringLiteral("Entity"), QStringLiteral("WebView") });
            for (int entity : c.children) {
                if (tree.at(entity).tag == QLatin1String("Entity"))
                    checkEntity(course, doc, scene, entity, entityNames);
            }
        } else if (c.tag == QLatin1String("Code")) {
            const QString name = c.leading.trimmed();
            if (scripts.contains(name))
                add(doc, c.offset, Severity::Error, QStringLiteral("duplicate-script"),
                    QStringLiteral("a second script %1 in this scene replaces the one on line %2")
                        .arg(quoted(name))
                        .arg(tree.lineOf(tree.at(scripts.value(name)).offset)));
            scripts.insert(name, child);
            if (kestDocument::fixedSlot(name) < 0 && kestDocument::fixedSlot(name.toLower()) < 0) {
                static const QStringList fixed { QStringLiteral("Script_Main") };
                for (int slot = 0; slot < kestDocument::FixedSlotCount; ++slot) {
                    const QString slotName = slot == 0
                        ? QStringLiteral("Script_Main")
                        : QStringLiteral("Script_JoystickButton%1").arg(slot, 2, 10, QLatin1Char('0'));
                    if (name.compare(slotName, Qt::CaseInsensitive) == 0)
                        add(doc, c.offset, Severity::Warning, QStringLiteral("case-trap"),
                            QStringLiteral("script %1 is a procedure, not %2: script names are matched in their "
                                           "letter case")
                                .arg(quoted(name), slotName));
                }
            }
            checkScript(course, doc, scene, child);
        }
    }
}

void Checker::checkReachable(const Course &course, Document &doc)
{
    const Tree &tree = doc.tree;
    std::vector<int> ordinary; // scene positions of the ordinary scenes, by index
    for (size_t i = 0; i < doc.scenes.size(); ++i) {
        if (doc.scenes[i].kind == kestDocument::SubProjectKind::Ordinary)
            ordinary.push_back(int(i));
    }
    if (ordinary.empty())
        return;

    // Where the scripts under an element go: scene names, "next" for %NEXT, and procedures called.
    struct Moves
    {
        QSet<QString> scenes;
        bool next = false;
        bool computed = false; // a target built from variables
        QSet<QString> calls;
    };
    auto movesOf = [&](int element) {
        Moves moves;
        std::vector<int> stack { element };
        while (!stack.empty()) {
            const int current = stack.back();
            stack.pop_back();
            const Element &e = tree.at(current);
            if (e.tag == QLatin1String("ChangeLevel")) {
                if (const auto target = literalArgument(tree, current, 0)) {
                    if (target->contains(QLatin1String("%NEXT")))
                        moves.next = true;
                    else
                        moves.scenes.insert(*target);
                } else {
                    moves.computed = true;
                }
            } else if (e.tag == QLatin1String("CallProcedure")) {
                if (const auto name = literalArgument(tree, current, 0))
                    moves.calls.insert(name->trimmed());
                else
                    moves.computed = true;
            }
            // Scripts of entities and the scene, but not nested scenes' names.
            for (int child : e.children)
                stack.push_back(child);
        }
        return moves;
    };

    QHash<QString, Moves> procedures; // of the procedure scenes
    Moves menuBars;
    std::vector<Moves> sceneMoves(ordinary.size());
    for (const Scene &scene : doc.scenes) {
        if (scene.kind == kestDocument::SubProjectKind::Procedure) {
            for (int child : tree.at(scene.element).children) {
                if (tree.at(child).tag == QLatin1String("Code"))
                    procedures.insert(tree.at(child).leading.trimmed(), movesOf(child));
            }
        } else if (scene.kind == kestDocument::SubProjectKind::MenuBar) {
            const Moves m = movesOf(scene.element);
            menuBars.scenes += m.scenes;
            menuBars.next = menuBars.next || m.next;
            menuBars.computed = menuBars.computed || m.computed;
            menuBars.calls += m.calls;
        } else {
            sceneMoves[size_t(scene.index)] = movesOf(scene.element);
        }
    }

    std::vector<bool> reached(ordinary.size(), false);
    std::vector<int> queue { 0 };
    reached[0] = true;
    for (const QString &name : course.enteredFromOutside) {
        const int at = doc.ordinaryByName.value(name, -1);
        if (at >= 0 && !reached[size_t(doc.scenes[size_t(at)].index)]) {
            reached[size_t(doc.scenes[size_t(at)].index)] = true;
            queue.push_back(doc.scenes[size_t(at)].index);
        }
    }
    while (!queue.empty()) {
        const int index = queue.back();
        queue.pop_back();
        // The scene's own moves, the menu bars' and those of the procedures it calls, transitively.
        Moves all = sceneMoves[size_t(index)];
        all.scenes += menuBars.scenes;
        all.next = all.next || menuBars.next;
        all.computed = all.computed || menuBars.computed;
        all.calls += menuBars.calls;
        QSet<QString> done;
        QList<QString> pending = all.calls.values();
        while (!pending.isEmpty()) {
            const QString name = pending.takeLast();
            if (done.contains(name) || !procedures.contains(name))
                continue;
            done.insert(name);
            const Moves &p = procedures[name];
            all.scenes += p.scenes;
            all.next = all.next || p.next;
            all.computed = all.computed || p.computed;
            pending += p.calls.values();
        }
        if (all.computed)
            return; // a target built from variables may lead anywhere
        auto reach = [&](int target) {
            if (target >= 0 && target < int(reached.size()) && !reached[size_t(target)]) {
                reached[size_t(target)] = true;
                queue.push_back(target);
            }
        };
        if (all.next)
            reach(index + 1);
        for (const Scene &scene : doc.scenes) {
            if (scene.kind == kestDocument::SubProjectKind::Ordinary && all.scenes.contains(scene.name))
                reach(scene.index);
        }
    }
    for (size_t i = 0; i < reached.size(); ++i) {
        if (reached[i])
            continue;
        const Scene &scene = doc.scenes[size_t(ordinary[i])];
        add(doc, tree.at(scene.element).offset, Severity::Warning, QStringLiteral("unreachable-scene"),
            QStringLiteral("no way leads from the first scene to scene %1").arg(quoted(scene.name)));
    }
}

void Checker::checkDocument(Course &course, Document &doc)
{
    const Tree &tree = doc.tree;
    const int root = tree.root();
    checkAttributes(doc, root, { QStringLiteral("Width"), QStringLiteral("Height") });
    checkChildren(doc, root, { QStringLiteral("SubProject") });

    QHash<QString, int> sceneNames;
    for (const Scene &scene : doc.scenes) {
        if (scene.kind == kestDocument::SubProjectKind::Ordinary && !scene.name.isEmpty()) {
            if (sceneNames.contains(scene.name))
                add(doc, tree.at(scene.element).offset, Severity::Error, QStringLiteral("duplicate-scene"),
                    QStringLiteral("a second scene %1: going there by name enters both, and the later one stays "
                                   "(the first is on line %2)")
                        .arg(quoted(scene.name))
                        .arg(tree.lineOf(tree.at(sceneNames.value(scene.name)).offset)));
            else
                sceneNames.insert(scene.name, scene.element);
        }
        checkSubProject(course, doc, scene);
    }
    checkReachable(course, doc);
}

void Checker::checkCourse(Course &course)
{
    readVariables(course);
    for (Document &doc : course.documents) {
        bool ok = false;
        const QString text = readText(doc.path, &ok);
        if (!ok) {
            m_report.unreadable.append(doc.display);
            continue;
        }
        if (doc.report)
            ++m_report.fileCount;
        if (!doc.tree.read(text, kestXml::MaxDepth)) {
            if (doc.report)
                m_report.problems.append({ doc.display, doc.tree.errorLine(), doc.tree.errorColumn(), Severity::Error,
                    QStringLiteral("xml"), doc.tree.errorText() });
            continue;
        }
        doc.readable = true;
        for (int i = 0; i < doc.tree.size(); ++i) {
            if (isAction(doc.tree.at(i).tag))
                doc.tree.mark(i);
        }
        outline(course, doc);
        collect(course, doc);
    }
    for (Document &doc : course.documents) {
        if (doc.readable && doc.report)
            checkDocument(course, doc);
    }
    if (course.variables.report) {
        for (const VariablesFile::Value &value : course.variables.fileValues) {
            if (const auto problem = fileProblem(course, value.value, QStringLiteral("file")))
                m_report.problems.append({ course.variables.display, value.line, value.column, Severity::Error,
                    QStringLiteral("missing-file"), *problem });
        }
    }
}

namespace {

QString displayPath(const QString &folder, const QString &name)
{
    return QDir::cleanPath(folder + QLatin1Char('/') + name);
}

void addDocuments(Course &course, const QString &displayFolder, const QStringList &reported)
{
    const QStringList all = QDir(course.folder).entryList({ QStringLiteral("*.avx") }, QDir::Files, QDir::Name);
    for (const QString &name : all) {
        Document doc;
        doc.path = course.folder + QLatin1Char('/') + name;
        doc.display = displayPath(displayFolder, name);
        doc.report = reported.contains(name);
        course.documents.push_back(std::move(doc));
    }
}

bool isCatalogue(const QString &path)
{
    return path.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive);
}

} // namespace

void Checker::checkCatalogue(const QString &path, const QString &display)
{
    bool ok = false;
    const QString text = readText(path, &ok);
    if (!ok) {
        m_report.unreadable.append(display);
        return;
    }
    ++m_report.fileCount;
    Document catalogue;
    catalogue.display = display;
    if (!catalogue.tree.read(text, kestXml::MaxDepth)) {
        m_report.problems.append({ display, catalogue.tree.errorLine(), catalogue.tree.errorColumn(), Severity::Error,
            QStringLiteral("xml"), catalogue.tree.errorText() });
        return;
    }
    const QString base = QFileInfo(path).path();
    const QString displayBase = QFileInfo(display).path();
    const Tree &tree = catalogue.tree;
    for (int project : tree.at(tree.root()).children) {
        if (tree.at(project).tag != QLatin1String("project"))
            continue;
        const QString folder = tree.at(project).attributes.value(QLatin1String("Folder")).toString();
        Course course;
        course.folder = base + QLatin1Char('/') + folder;
        if (folder.isEmpty() || !QFileInfo(course.folder).isDir())
            continue; // not installed
        QStringList parts;
        for (int part : tree.at(project).children) {
            const QString url = tree.at(part).attributes.value(QLatin1String("Url")).toString();
            if (tree.at(part).tag != QLatin1String("part") || url.isEmpty())
                continue;
            const QString name = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
            if (!QFileInfo::exists(course.folder + QLatin1Char('/') + name))
                add(catalogue, tree.attributeOffset(part, QStringLiteral("Url")), Severity::Error,
                    QStringLiteral("missing-file"),
                    QStringLiteral("part %1 of the course in %2 is not installed").arg(quoted(name), quoted(folder)));
            else
                parts.append(name);
        }
        const QString displayFolder = displayPath(displayBase, folder);
        addDocuments(course, displayFolder, parts);
        course.variables.display = displayPath(displayFolder, kVariablesFile);
        course.variables.report = true;
        checkCourse(course);
    }
}

Report check(const QStringList &paths)
{
    Report report;
    Checker checker(report);
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            const QString catalogue = displayPath(path, QStringLiteral("tavelo.xml"));
            const QStringList documents = QDir(path).entryList({ QStringLiteral("*.avx") }, QDir::Files, QDir::Name);
            if (documents.isEmpty() && QFileInfo::exists(catalogue)) {
                checker.checkCatalogue(catalogue, catalogue);
                continue;
            }
            if (documents.isEmpty()) {
                report.unreadable.append(path);
                continue;
            }
            Course course;
            course.folder = path;
            addDocuments(course, path, documents);
            course.variables.display = displayPath(path, kVariablesFile);
            course.variables.report = true;
            checker.checkCourse(course);
        } else if (!info.isFile() || !info.isReadable()) {
            report.unreadable.append(path);
        } else if (isCatalogue(path)) {
            checker.checkCatalogue(path, path);
        } else {
            Course course;
            course.folder = info.path();
            addDocuments(course, info.path(), { info.fileName() });
            if (course.documents.empty()
                || std::none_of(
                    course.documents.cbegin(), course.documents.cend(), [](const Document &d) { return d.report; })) {
                // A document without the ".avx" extension: check it alone.
                Document doc;
                doc.path = path;
                doc.display = path;
                course.documents.push_back(std::move(doc));
            }
            checker.checkCourse(course);
        }
    }
    std::stable_sort(report.problems.begin(), report.problems.end(), [](const Problem &a, const Problem &b) {
        return std::tie(a.file, a.line, a.column) < std::tie(b.file, b.line, b.column);
    });
    return report;
}

QString formatText(const Report &report)
{
    QString out;
    for (const Problem &p : report.problems) {
        out += QStringLiteral("%1:%2:%3: %4 %5: %6\n")
                   .arg(p.file)
                   .arg(p.line)
                   .arg(p.column)
                   .arg(p.severity == Severity::Error ? QStringLiteral("error") : QStringLiteral("warning"), p.rule,
                       p.message);
    }
    out += QStringLiteral("%1 error(s), %2 warning(s) in %3 file(s)\n")
               .arg(report.errors())
               .arg(report.warnings())
               .arg(report.fileCount);
    return out;
}

QByteArray formatJson(const Report &report)
{
    QJsonArray array;
    for (const Problem &p : report.problems) {
        array.append(QJsonObject { { QStringLiteral("file"), p.file }, { QStringLiteral("line"), p.line },
            { QStringLiteral("column"), p.column },
            { QStringLiteral("severity"),
                p.severity == Severity::Error ? QStringLiteral("error") : QStringLiteral("warning") },
            { QStringLiteral("rule"), p.rule }, { QStringLiteral("message"), p.message } });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace kestCheck

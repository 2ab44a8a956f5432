// SPDX-License-Identifier: GPL-3.0-or-later
#include "coursescanner.h"

#include "kestlog.h"
#include "kestpaths.h"
#include "kestxml.h"

#include <QDir>
#include <QFile>

namespace {

// Extensions that make a name a course file, by where the name was found. They are compared
// case-sensitively, as the course tools write them.
const char *const VariablesFileExtensions[]
    = { ".mp3", ".txt", ".lst", ".jpg", ".png", ".avx", ".mp4", ".avi", ".wav" };
const char *const ListFileExtensions[] = { ".mp3", ".txt", ".lst", ".jpg", ".png" };
// In a project document: before "," and '"' all nine, before "<" all but "html".
const char *const DocumentExtensions[] = { ".mp3", ".mp4", ".png", ".jpg", ".txt", ".wav", ".avi", "html", ".lst" };

template <size_t N> bool endsWithAny(const QString &name, const char *const (&extensions)[N])
{
    const QString trimmed = name.trimmed();
    for (const char *extension : extensions) {
        if (trimmed.endsWith(QLatin1String(extension)))
            return true;
    }
    return false;
}

// The four characters at text[i] are one of the document extensions ("html" only when allowed).
bool documentExtensionAt(const QChar *text, bool allowHtml)
{
    for (const char *extension : DocumentExtensions) {
        if (!allowHtml && extension[0] == 'h')
            continue;
        if (text[0] == QLatin1Char(extension[0]) && text[1] == QLatin1Char(extension[1])
            && text[2] == QLatin1Char(extension[2]) && text[3] == QLatin1Char(extension[3]))
            return true;
    }
    return false;
}

// name holds "USERPATH". Searched from its 'U's: most names hold none, and a general search
// costs more than the rest of taking a name.
bool namesUserPath(const QStringRef &name)
{
    const QLatin1String userPath("USERPATH");
    for (int at = name.indexOf(QLatin1Char('U')); at >= 0 && at <= name.size() - userPath.size();
         at = name.indexOf(QLatin1Char('U'), at + 1)) {
        if (name.mid(at, userPath.size()) == userPath)
            return true;
    }
    return false;
}

QString slashes(QString text)
{
    text.replace(QLatin1String("\\\\"), QLatin1String("/"));
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return text;
}

// Every line of the file with its line end; reading stops only at the end of the file.
QStringList readLines(QFile &file)
{
    QStringList lines;
    while (!file.atEnd())
        lines << QString::fromLocal8Bit(file.readLine());
    return lines;
}

} // namespace

namespace kestCoursePath {

namespace {
// The cleaned folder and the cleaned joined path; false when the name is absolute or has a drive.
bool resolve(const QString &folder, const QString &name, QString &base, QString &joined)
{
    QString relative = name.trimmed();
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool drive = relative.size() >= 2 && relative.at(1) == QLatin1Char(':') && relative.at(0).isLetter();
    if (relative.startsWith(QLatin1Char('/')) || drive)
        return false;
    base = QDir::cleanPath(QString(folder).replace(QLatin1Char('\\'), QLatin1Char('/')).trimmed());
    joined = QDir::cleanPath(base + QLatin1Char('/') + relative);
    return true;
}
} // namespace

QString inside(const QString &folder, const QString &name)
{
    QString base;
    QString joined;
    if (name.trimmed().isEmpty() || !resolve(folder, name, base, joined) || !joined.startsWith(base + QLatin1Char('/')))
        return QString();
    return joined;
}

bool leaves(const QString &folder, const QString &name)
{
    if (name.trimmed().isEmpty())
        return false;
    QString base;
    QString joined;
    if (!resolve(folder, name, base, joined))
        return true;
    return joined != base && !joined.startsWith(base + QLatin1Char('/'));
}

} // namespace kestCoursePath

CourseScanner::CourseScanner(Fetch fetch)
    : m_fetch(std::move(fetch))
{ }

bool CourseScanner::refused(const QString &courseFolder, const QString &name) const
{
    if (!kestCoursePath::leaves(courseFolder, name))
        return false;
    qCWarning(lcNet).noquote() << QStringLiteral("Refused a file name that leaves the course folder: ")
            + name.trimmed();
    return true;
}

void CourseScanner::collectVariableFileReferences(
    const QString &variablesFile, const QString &suffix, QStringList &list, const QString &partAddress)
{
    const QString courseFolder = variablesFile.left(variablesFile.size() - suffix.size());
    QFile file(variablesFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QStringList lines = readLines(file);
    // The server answered with an error page instead of the file.
    if (!lines.isEmpty() && lines.first().contains(QLatin1String("<!DOCTYPE")))
        return;

    QStringList values;
    for (const QString &line : lines) {
        if (!line.contains(QLatin1Char('=')))
            continue;
        const QStringList pieces = slashes(line).split(QLatin1Char('='), QString::SkipEmptyParts);
        if (pieces.size() == 2)
            values << pieces.at(1);
    }
    for (const QString &value : values) {
        if (!endsWithAny(value, VariablesFileExtensions) || list.contains(value) || refused(courseFolder, value))
            continue;
        if (value.contains(QLatin1String("txt")) || value.contains(QLatin1String("lst"))
            || value.contains(QLatin1String("avx")))
            scanListFile(courseFolder, value, list, partAddress);
        list << value;
    }
}

void CourseScanner::scanListFile(
    const QString &courseFolder, const QString &name, QStringList &list, const QString &partAddress)
{
    if (refused(courseFolder, name))
        return;
    const QString path = kestPaths::joinPath(courseFolder, name);
    if (!QFileInfo::exists(path)) {
        // A list file that did not come is not asked for again by this scan.
        if (m_fetch && !m_asked.contains(name.trimmed())) {
            m_asked.insert(name.trimmed());
            m_fetch(courseFolder, name, partAddress);
        }
        // Fetched just now: no need to fetch it again with the other files.
        list.removeOne(name);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QStringList pieces;
    for (const QString &line : readLines(file))
        pieces << slashes(line).split(QLatin1Char(','), QString::SkipEmptyParts);
    for (const QString &piece : qAsConst(pieces)) {
        if (endsWithAny(piece, ListFileExtensions) && !list.contains(piece) && !refused(courseFolder, piece))
            list << piece;
    }
}

QStringList CourseScanner::collectProjectReferences(
    QStringList list, const QString &partFile, const QString &courseFolder, const QString &partAddress)
{
    // The document's text as laid out with indentation 1, read without building a DOM.
    QString text;
    QFile file(partFile);
    if (!file.open(QIODevice::ReadOnly) || !kestXml::serialise(&file, text))
        return QStringList();
    file.close();
    const QChar *data = text.constData();
    const int length = text.size();

    // Takes one found name: appends it and, for text and list files, reads it as a list file.
    // Documents name the same files many times over: a name once found inside the course folder
    // is not resolved again (refused names are, so that each one is still logged).
    QSet<QString> staysInside;
    const auto take = [&](const QString &name, bool listFile) {
        QSet<QString>::const_iterator known = staysInside.constFind(name);
        if (known == staysInside.cend()) {
            if (refused(courseFolder, name))
                return;
            known = staysInside.insert(name);
        }
        // The set's copy, so that the list holds one string per file however often it is named.
        list << *known;
        if (listFile)
            scanListFile(courseFolder, name, list, partAddress);
    };

    int listTaken = -1; // where the comma list taken last begins: each list is taken once
    for (int i = 0; i <= length - 6; ++i) {
        // Every extension begins with '.' or 'h': a cheap test that passes over most characters.
        const ushort first = data[i].unicode();
        if (first != '.' && first != 'h')
            continue;
        const QChar delimiter = data[i + 4];
        const bool comma = delimiter == QLatin1Char(',');
        const bool elementEnd = delimiter == QLatin1Char('<');
        const bool quote = delimiter == QLatin1Char('"');
        if (!comma && !elementEnd && !quote)
            continue;
        if (!documentExtensionAt(data + i, !elementEnd))
            continue;
        const bool listFile
            = (data[i + 1] == QLatin1Char('t') && data[i + 2] == QLatin1Char('x') && data[i + 3] == QLatin1Char('t'))
            || (data[i + 1] == QLatin1Char('l') && data[i + 2] == QLatin1Char('s') && data[i + 3] == QLatin1Char('t'));

        if (comma) {
            // The whole comma list between the surrounding element boundaries, once.
            const int start = text.lastIndexOf(QLatin1Char('>'), i) + 1;
            if (start == listTaken)
                continue;
            listTaken = start;
            int end = text.indexOf(QLatin1Char('<'), i);
            if (end < 0)
                end = length;
            QString items = text.mid(start, end - start);
            items.replace(QLatin1Char('\\'), QLatin1Char('/'));
            for (const QString &piece : items.split(QLatin1Char(',')))
                take(piece, listFile);
            continue;
        }

        // A single name in element text or an attribute value; names inside a list are taken above.
        const int start = text.lastIndexOf(elementEnd ? QLatin1Char('>') : QLatin1Char('"'), i) + 1;
        const QStringRef found = text.midRef(start, i + 4 - start);
        // Files in the learner's own folder are not course files.
        if (found.contains(QLatin1Char(',')) || found.isEmpty() || namesUserPath(found))
            continue;
        take(found.toString().replace(QLatin1Char('\\'), QLatin1Char('/')), listFile);
    }
    return list;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// Where a name from the course server may go. Names come from catalogues, documents and list
// files, so they may try to lead out of the course folder; such names are never used as paths.
namespace kestCoursePath {

// joinPath(folder, name) with "." and ".." resolved, when that lies strictly inside folder;
// otherwise (absolute names, drive names, names that climb out, folder itself) an empty string.
QString inside(const QString &folder, const QString &name);
// True for a name that leads somewhere outside folder: absolute, with a drive, or climbing out.
// Blank names and folder itself do not leave it (they name no file either).
bool leaves(const QString &folder, const QString &name);

} // namespace kestCoursePath

// Finds the course files that a fetched course part and the course's variables file name, by
// their file extensions in the text (the catalogue lists only the parts). Names are relative to
// the course folder, in the order found, and may repeat or carry blanks and line ends. List files
// that are missing are fetched on the spot through the fetch function. Names that would lead out
// of the course folder are logged and skipped. Each comma list is taken once, and each missing list
// file is fetched at most once per scanner.
class CourseScanner
{
public:
    // Fetches name into courseFolder from beside partAddress (the part's address with credentials).
    using Fetch = std::function<bool(const QString &courseFolder, const QString &name, const QString &partAddress)>;

    explicit CourseScanner(Fetch fetch);

    // Adds the values of "key=value" lines of the variables file that name course files; suffix is
    // the part of variablesFile after the course folder ("/variables_win.txt").
    void collectVariableFileReferences(
        const QString &variablesFile, const QString &suffix, QStringList &list, const QString &partAddress);
    // list plus the files named in the project document partFile: comma lists, element texts and
    // attribute values ending in a known extension. A document that does not parse gives an empty list.
    QStringList collectProjectReferences(
        QStringList list, const QString &partFile, const QString &courseFolder, const QString &partAddress);
    // Fetches the list file name if it is missing, then adds the comma-separated names it holds.
    void scanListFile(const QString &courseFolder, const QString &name, QStringList &list, const QString &partAddress);

private:
    bool refused(const QString &courseFolder, const QString &name) const;

    Fetch m_fetch;
    QSet<QString> m_asked; // list files fetched (or tried) during this scanner's scans
};

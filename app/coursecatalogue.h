// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDomDocument>
#include <QString>
#include <QStringList>

// The course catalogue: which courses exist, in which folder each is installed, and which of a
// course's parts is its main project document.
namespace kestCatalogue {

// "TAVELO German Version" for "ger" and so on; "Quit" for "exit"; "" for anything else.
QString titleForCode(const QString &code);
// The language code of one of the six course titles; "" for any other title.
QString codeForTitle(const QString &title);

// Reads a catalogue file into a document of type "list". A missing file, or one that is refused
// (not well-formed, nested too deep), gives an empty document; *readable is false for the latter.
QDomDocument read(const QString &path, bool *readable = nullptr);
// The courses of a catalogue in document order: for each "Name" only its first project, so a
// course listed twice is one course.
QList<QDomElement> courses(const QDomDocument &catalogue);
// The "Name" of every course of the catalogue, in document order.
QStringList offeredTitles(const QDomDocument &catalogue);
// The first project whose "Name" is title exactly; a null element when there is none.
QDomElement findCourse(const QDomDocument &catalogue, const QString &title);
// The part children of a project that have a "Url", in document order.
QList<QDomElement> parts(const QDomElement &course);
// The last "/"-separated segment of a part address: the file name of the part.
QString partFileName(const QString &url);

} // namespace kestCatalogue

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

// Reads a catalogue file into a document of type "list". A file that does not parse is used as
// the parser leaves it; a missing one gives an empty document.
QDomDocument read(const QString &path);
// The "Name" of every project of the catalogue, in document order.
QStringList offeredTitles(const QDomDocument &catalogue);
// The project whose "Name" is title exactly; a null element when there is none.
QDomElement findCourse(const QDomDocument &catalogue, const QString &title);
// The part children of a project that have a "Url", in document order.
QList<QDomElement> parts(const QDomElement &course);
// The last "/"-separated segment of a part address: the file name of the part.
QString partFileName(const QString &url);

} // namespace kestCatalogue

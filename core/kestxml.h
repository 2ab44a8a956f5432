// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QDomDocument;
class QIODevice;

// Reading XML documents without letting a hostile one take the player down.
namespace kestXml {

// Deepest element nesting accepted, far beyond any real course or catalogue. The DOM parser
// recurses once per level on the calling thread: tens of thousands of levels overflow its stack.
constexpr int MaxDepth = 256;

// Parses the whole of device into doc. The depth is measured first by a non-recursive reader; a
// document nested deeper than maxDepth, or not well-formed, leaves doc untouched, and errorText
// (if given) says why. The device must be open for reading and seekable.
bool parse(QIODevice *device, QDomDocument &doc, QString *errorText = nullptr, int maxDepth = MaxDepth);

} // namespace kestXml

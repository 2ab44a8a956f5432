// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QDomDocument;
class QIODevice;

// Reading XML documents without letting a hostile one take the player down. Every XML reader of
// the player goes through here.
namespace kestXml {

// Deepest element nesting accepted, far beyond any real course or catalogue. The DOM parser
// recurses once per level on the calling thread: tens of thousands of levels overflow its stack.
constexpr int MaxDepth = 256;

// Parses the whole of device into doc. The document is first read whole by a non-recursive
// reader; one nested deeper than maxDepth, or one that reader cannot read to its end, never
// reaches the DOM parser: doc is left untouched, and errorText (if given) says why. The device
// must be open for reading and seekable.
bool parse(QIODevice *device, QDomDocument &doc, QString *errorText = nullptr, int maxDepth = MaxDepth);

// The document as the DOM would write it with indentation 1, read without building a DOM (so in
// memory proportional to the text, and never recursively). Refuses what parse refuses. A seekable
// device is read whole first, which makes plain documents much faster to lay out.
bool serialise(QIODevice *device, QString &text, QString *errorText = nullptr, int maxDepth = MaxDepth);

} // namespace kestXml

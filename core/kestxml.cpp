// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestxml.h"

#include <QDomDocument>
#include <QIODevice>
#include <QXmlStreamReader>

namespace kestXml {

namespace {

// The deepest nesting, stopping as soon as it passes limit; -1 when the text is not
// well-formed (the DOM parser then reports the details).
int depthOf(QIODevice *device, int limit)
{
    QXmlStreamReader reader(device);
    int depth = 0;
    int deepest = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            deepest = qMax(deepest, ++depth);
            if (deepest > limit)
                return deepest;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    return reader.hasError() ? -1 : deepest;
}

} // namespace

bool parse(QIODevice *device, QDomDocument &doc, QString *errorText, int maxDepth)
{
    const qint64 start = device->pos();
    const int depth = depthOf(device, maxDepth);
    if (depth > maxDepth) {
        if (errorText)
            *errorText = QStringLiteral("elements nested more than %1 deep").arg(maxDepth);
        return false;
    }
    device->seek(start);
    QString message;
    int line = 0;
    int column = 0;
    QDomDocument parsed;
    if (!parsed.setContent(device, &message, &line, &column)) {
        if (errorText)
            *errorText = QStringLiteral("%1:%2: %3").arg(line).arg(column).arg(message);
        return false;
    }
    doc = parsed;
    return true;
}

} // namespace kestXml

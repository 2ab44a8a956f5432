// SPDX-License-Identifier: GPL-3.0-or-later
// Documents that a recursive DOM parser accepts but the non-recursive depth scan cannot read,
// each opening a nest deep enough to overflow the DOM parser's stack: a reader that hands such a
// document to the DOM parser crashes the test.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// (row name, document) pairs; inner goes into the innermost element.
inline QList<QPair<const char *, QByteArray>> deepUnreadableDocuments(const QByteArray &inner = QByteArray())
{
    const QByteArray nest = QByteArray("<n>").repeated(30000) + inner + QByteArray("</n>").repeated(30000);
    return {
        { "undeclared prefix", "<x:P>" + nest + "</x:P>" },
        { "duplicate attribute", "<P a=\"1\" a=\"2\">" + nest + "</P>" },
        { "undeclared entity", "<P>&undeclared;" + nest + "</P>" },
        { "control character", "<P>\x01" + nest + "</P>" },
        { "unknown encoding", "<?xml version=\"1.0\" encoding=\"x-unheard-of\"?><P>" + nest + "</P>" },
    };
}

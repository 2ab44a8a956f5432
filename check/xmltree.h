// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVector>
#include <QXmlStreamAttributes>

#include <vector>

// An XML document read into a flat tree that remembers where each element starts, so that a
// problem can be reported at its line and column.
class kestXmlTree
{
public:
    struct Element
    {
        QString tag;
        int offset = 0; // of the "<" that opens the element
        int tagEnd = 0; // just after the start tag
        QXmlStreamAttributes attributes;
        // The value of the first child node as the DOM reader sees it: the text or comment that
        // opens the element, "" when an element comes first (blank text is not a node there).
        QString leading;
        bool textHasProcedures = false; // a direct text node holds "PROCEDURES"
        bool marked = false; // free for the tree's user: the checker marks the action elements
        int parent = -1;
        std::vector<int> children; // child elements
    };

    // Reads text; false when it is not well-formed or nested deeper than maxDepth, with the
    // parser's message and the line and column (1-based) where it stopped.
    bool read(const QString &text, int maxDepth);
    QString errorText() const { return m_error; }
    int errorLine() const { return m_errorLine; }
    int errorColumn() const { return m_errorColumn; }

    const Element &at(int index) const { return m_elements[size_t(index)]; }
    void mark(int index) { m_elements[size_t(index)].marked = true; }
    int root() const { return m_elements.empty() ? -1 : 0; }
    bool isEmpty() const { return m_elements.empty(); }
    int size() const { return int(m_elements.size()); }

    // 1-based line and column of a character offset.
    int lineOf(int offset) const;
    int columnOf(int offset) const;
    // Offset of an attribute's name inside an element's start tag; the element's own offset when
    // the attribute cannot be found there.
    int attributeOffset(int element, const QString &name) const;

private:
    QString m_text;
    std::vector<Element> m_elements;
    QVector<int> m_lineStarts;
    QString m_error;
    int m_errorLine = 0;
    int m_errorColumn = 0;
};

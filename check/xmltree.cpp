// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmltree.h"

#include <QXmlStreamReader>

#include <algorithm>

bool kestXmlTree::read(const QString &text, int maxDepth)
{
    m_text = text;
    m_elements.clear();
    m_lineStarts = { 0 };
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n'))
            m_lineStarts.append(i + 1);
    }

    QXmlStreamReader reader(text);
    // A document has few distinct tag names: sharing one string per name spares an allocation
    // per element.
    std::vector<QString> tags;
    auto tagName = [&tags](const QStringRef &name) {
        for (const QString &tag : tags) {
            if (name == tag)
                return tag;
        }
        if (tags.size() < 64)
            tags.push_back(name.toString());
        return name.toString();
    };
    std::vector<int> open;
    // Whether the element on top of the stack has seen its first child node yet.
    std::vector<bool> started;
    qint64 before = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        int start = int(before);
        before = reader.characterOffset();
        // After text the reader has already taken the "<" of the next tag.
        if (token == QXmlStreamReader::StartElement && start < text.size() && text.at(start) != QLatin1Char('<'))
            start = text.lastIndexOf(QLatin1Char('<'), start);
        switch (token) {
        case QXmlStreamReader::StartElement: {
            if (int(open.size()) >= maxDepth) {
                m_error = QStringLiteral("elements nested more than %1 deep").arg(maxDepth);
                m_errorLine = lineOf(start);
                m_errorColumn = columnOf(start);
                return false;
            }
            Element element;
            element.tag = tagName(reader.name());
            element.offset = start;
            element.tagEnd = int(before);
            element.attributes = reader.attributes();
            const int index = int(m_elements.size());
            if (!open.empty()) {
                element.parent = open.back();
                m_elements[size_t(open.back())].children.push_back(index);
                started.back() = true;
            }
            m_elements.push_back(std::move(element));
            open.push_back(index);
            started.push_back(false);
            break;
        }
        case QXmlStreamReader::EndElement:
            open.pop_back();
            started.pop_back();
            break;
        case QXmlStreamReader::Characters:
        case QXmlStreamReader::EntityReference:
            if (!open.empty()) {
                Element &element = m_elements[size_t(open.back())];
                if (reader.isWhitespace() && !reader.isCDATA())
                    break;
                if (reader.text().contains(QLatin1String("PROCEDURES")))
                    element.textHasProcedures = true;
                if (!started.back()) {
                    element.leading = reader.text().toString();
                    started.back() = true;
                }
            }
            break;
        case QXmlStreamReader::Comment:
            if (!open.empty() && !started.back()) {
                m_elements[size_t(open.back())].leading = reader.text().toString();
                started.back() = true;
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        m_error = reader.errorString();
        m_errorLine = int(reader.lineNumber());
        m_errorColumn = int(reader.columnNumber()) + 1;
        m_elements.clear();
        return false;
    }
    return true;
}

int kestXmlTree::lineOf(int offset) const
{
    return int(std::upper_bound(m_lineStarts.cbegin(), m_lineStarts.cend(), offset) - m_lineStarts.cbegin());
}

int kestXmlTree::columnOf(int offset) const
{
    return offset - m_lineStarts.at(lineOf(offset) - 1) + 1;
}

int kestXmlTree::attributeOffset(int index, const QString &name) const
{
    const Element &element = at(index);
    int from = element.offset + 1 + element.tag.size();
    while (true) {
        const int found = m_text.indexOf(name, from);
        if (found < 0 || found >= element.tagEnd)
            return element.offset;
        // The name must stand alone: after a blank, before "=" (blanks allowed).
        int after = found + name.size();
        while (after < element.tagEnd && m_text.at(after).isSpace())
            ++after;
        if (m_text.at(found - 1).isSpace() && after < element.tagEnd && m_text.at(after) == QLatin1Char('='))
            return found;
        from = found + 1;
    }
}

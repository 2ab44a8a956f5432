// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestxml.h"

#include <QDomDocument>
#include <QIODevice>
#include <QVector>
#include <QXmlStreamReader>

#include <algorithm>
#include <limits>

namespace kestXml {

namespace {

// Reads device to its end with a non-recursive reader, handing each token to visit. False, with
// the reason in errorText, when the reader stops on an error or the nesting passes maxDepth. The
// reader takes prefixes as part of the names, as the DOM parser does.
template <typename Visit> bool readAll(QIODevice *device, QString *errorText, int maxDepth, Visit visit)
{
    QXmlStreamReader reader(device);
    reader.setNamespaceProcessing(false);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > maxDepth) {
            if (errorText)
                *errorText = QStringLiteral("elements nested more than %1 deep").arg(maxDepth);
            return false;
        }
        if (token == QXmlStreamReader::EndElement)
            --depth;
        if (token != QXmlStreamReader::Invalid)
            visit(reader, token);
    }
    if (reader.hasError()) {
        if (errorText)
            *errorText = QStringLiteral("%1:%2: %3")
                             .arg(reader.lineNumber())
                             .arg(reader.columnNumber())
                             .arg(reader.errorString());
        return false;
    }
    return true;
}

// The layout's output: a handful of characters per call, written through a raw pointer because
// QString's out-of-line appends cost more than the characters they copy.
class TextSink
{
public:
    explicit TextSink(int capacity)
    {
        m_text.resize(qMax(capacity, 64));
        m_data = m_text.data();
    }

    void put(QChar c)
    {
        if (m_size == m_text.size())
            grow(1);
        m_data[m_size++] = c;
    }
    void put(QLatin1Char c) { put(QChar(c)); }
    void put(const QChar *data, int size)
    {
        if (size > m_text.size() - m_size)
            grow(size);
        std::copy(data, data + size, m_data + m_size);
        m_size += size;
    }
    void put(const QStringRef &text) { put(text.constData(), text.size()); }
    void put(QLatin1String text)
    {
        if (text.size() > m_text.size() - m_size)
            grow(text.size());
        for (const char c : text)
            m_data[m_size++] = QLatin1Char(c);
    }

    QString take()
    {
        m_text.resize(m_size);
        return std::move(m_text);
    }

private:
    void grow(int more)
    {
        const qint64 wanted = qMax(qint64(m_text.size()) * 2, qint64(m_size) + more);
        const qint64 limit = std::numeric_limits<int>::max() / int(sizeof(QChar)) - 64;
        if (qint64(m_size) + more > limit)
            qBadAlloc();
        m_text.resize(int(qMin(wanted, limit)));
        m_data = m_text.data();
    }

    QString m_text;
    QChar *m_data = nullptr;
    int m_size = 0;
};

// Appends value with the DOM's escaping: in text '<', '&' and the '>' of "]]>", and carriage
// returns; in attribute values also '"' and the line ends and tabs that would otherwise be
// normalised away. Most values need none, and are appended whole.
void appendEscaped(TextSink &out, const QStringRef &value, bool attribute)
{
    const QChar *data = value.constData();
    const int size = value.size();
    int plain = 0;
    while (plain < size) {
        const ushort c = data[plain].unicode();
        // Every character that may want escaping lies at or below '>'.
        if (c > '>') {
            ++plain;
            continue;
        }
        if (c == '<' || c == '&' || c == '>' || c == '\r' || (attribute && (c == '"' || c == '\n' || c == '\t')))
            break;
        ++plain;
    }
    out.put(data, plain);
    for (int i = plain; i < size; ++i) {
        const QChar c = data[i];
        if (c == QLatin1Char('<'))
            out.put(QLatin1String("&lt;"));
        else if (c == QLatin1Char('&'))
            out.put(QLatin1String("&amp;"));
        else if (c == QLatin1Char('>') && i >= 2 && data[i - 1] == QLatin1Char(']') && data[i - 2] == QLatin1Char(']'))
            out.put(QLatin1String("&gt;"));
        else if (attribute && c == QLatin1Char('"'))
            out.put(QLatin1String("&quot;"));
        else if (c == QLatin1Char('\r'))
            out.put(QLatin1String("&#xd;"));
        else if (attribute && c == QLatin1Char('\n'))
            out.put(QLatin1String("&#xa;"));
        else if (attribute && c == QLatin1Char('\t'))
            out.put(QLatin1String("&#x9;"));
        else
            out.put(c);
    }
}

// Writes the tokens the way the DOM lays out its nodes with indentation 1: whitespace-only text
// dropped, an element's children on lines of their own unless text stands beside them.
class DomLayout
{
public:
    explicit DomLayout(TextSink &out)
        : m_out(out)
    { }

    void token(const QXmlStreamReader &reader, QXmlStreamReader::TokenType token)
    {
        switch (token) {
        case QXmlStreamReader::StartElement: {
            beginChild(false);
            m_out.put(QLatin1Char('<'));
            m_out.put(reader.qualifiedName());
            // Held const: a range-for over the returned (non-const) vector would detach and copy it.
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute &attribute : attributes) {
                m_out.put(QLatin1Char(' '));
                m_out.put(attribute.qualifiedName());
                m_out.put(QLatin1String("=\""));
                appendEscaped(m_out, attribute.value(), true);
                m_out.put(QLatin1Char('"'));
            }
            m_stack.append({ int(m_stack.size()), true, false });
            break;
        }
        case QXmlStreamReader::EndElement: {
            const Frame frame = m_stack.takeLast();
            if (frame.open) {
                m_out.put(QLatin1String("/>"));
            } else {
                flushNewline();
                if (!frame.lastText)
                    indent(frame.depth);
                m_out.put(QLatin1String("</"));
                m_out.put(reader.qualifiedName());
                m_out.put(QLatin1Char('>'));
            }
            m_newline = true;
            break;
        }
        case QXmlStreamReader::Characters:
            if (reader.isWhitespace() && !reader.isCDATA())
                break;
            beginChild(true);
            if (reader.isCDATA()) {
                m_out.put(QLatin1String("<![CDATA["));
                m_out.put(reader.text());
                m_out.put(QLatin1String("]]>"));
            } else {
                appendEscaped(m_out, reader.text(), false);
            }
            break;
        case QXmlStreamReader::Comment:
            beginChild(false);
            m_out.put(QLatin1String("<!--"));
            m_out.put(reader.text());
            if (reader.text().endsWith(QLatin1Char('-')))
                m_out.put(QLatin1Char(' '));
            m_out.put(QLatin1String("-->"));
            m_newline = true;
            break;
        case QXmlStreamReader::EndDocument:
            flushNewline();
            break;
        default:
            break;
        }
    }

private:
    struct Frame
    {
        int depth;
        bool open; // the start tag still wants its '>'
        bool lastText;
    };

    void beginChild(bool text)
    {
        bool afterText = false;
        if (!m_stack.isEmpty()) {
            Frame &parent = m_stack.last();
            if (parent.open) {
                m_out.put(text ? QLatin1String(">") : QLatin1String(">\n"));
                parent.open = false;
            }
            afterText = parent.lastText;
            parent.lastText = text;
        }
        if (text) {
            m_newline = false;
            return;
        }
        flushNewline();
        if (!afterText)
            indent(m_stack.size());
    }

    void flushNewline()
    {
        if (m_newline)
            m_out.put(QLatin1Char('\n'));
        m_newline = false;
    }

    void indent(int depth)
    {
        for (int i = 0; i < depth; ++i)
            m_out.put(QLatin1Char(' '));
    }

    TextSink &m_out;
    QVector<Frame> m_stack;
    bool m_newline = false;
};

} // namespace

bool parse(QIODevice *device, QDomDocument &doc, QString *errorText, int maxDepth)
{
    const qint64 start = device->pos();
    // What this reader cannot read to its end is refused, never handed to the DOM parser: the
    // DOM parser accepts documents this one rejects, and nests as deep as they go.
    if (!readAll(device, errorText, maxDepth, [](const QXmlStreamReader &, QXmlStreamReader::TokenType) {}))
        return false;
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

bool serialise(QIODevice *device, QString &text, QString *errorText, int maxDepth)
{
    TextSink out(int(qMin<qint64>(device->size(), 1 << 28)));
    DomLayout layout(out);
    if (!readAll(
            device, errorText, maxDepth, [&layout](const QXmlStreamReader &reader, QXmlStreamReader::TokenType token) {
                layout.token(reader, token);
            }))
        return false;
    text = out.take();
    return true;
}

} // namespace kestXml

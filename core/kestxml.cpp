// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestxml.h"

#include <QDomDocument>
#include <QIODevice>
#include <QXmlStreamReader>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

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
        m_capacity = m_text.size();
    }

    void put(QChar c)
    {
        if (m_size == m_capacity)
            grow(1);
        m_data[m_size++] = c;
    }
    void fill(QChar c, int count)
    {
        if (count > m_capacity - m_size)
            grow(count);
        std::fill_n(m_data + m_size, count, c);
        m_size += count;
    }
    void put(QLatin1Char c) { put(QChar(c)); }
    void put(const QChar *data, int size)
    {
        if (size > m_capacity - m_size)
            grow(size);
        std::copy(data, data + size, m_data + m_size);
        m_size += size;
    }
    void put(const QStringRef &text) { put(text.constData(), text.size()); }
    void put(QLatin1String text)
    {
        const int size = text.size();
        if (size > m_capacity - m_size)
            grow(size);
        // Indexed from a local pointer, so that the compiler widens many bytes at once.
        const char *in = text.data();
        QChar *out = m_data + m_size;
        for (int i = 0; i < size; ++i)
            out[i] = QLatin1Char(in[i]);
        m_size += size;
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
        m_capacity = m_text.size();
    }

    QString m_text;
    QChar *m_data = nullptr;
    int m_size = 0;
    int m_capacity = 0;
};

// Appends value with the DOM's escaping: in text '<', '&' and the '>' of "]]>", and carriage
// returns; in attribute values also '"' and the line ends and tabs that would otherwise be
// normalised away. Most values need none, and are appended whole.
void appendEscaped(TextSink &out, const QChar *data, int size, bool attribute)
{
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

    template <typename Name> void startElement(const Name &name)
    {
        beginChild(false);
        m_out.put(QLatin1Char('<'));
        m_out.put(name);
        m_stack.push_back({ int(m_stack.size()), true, false });
    }
    template <typename Name> void attribute(const Name &name, const QChar *value, int size)
    {
        m_out.put(QLatin1Char(' '));
        m_out.put(name);
        m_out.put(QLatin1String("=\""));
        appendEscaped(m_out, value, size, true);
        m_out.put(QLatin1Char('"'));
    }
    template <typename Name> void endElement(const Name &name)
    {
        const Frame frame = m_stack.back();
        m_stack.pop_back();
        if (frame.open) {
            m_out.put(QLatin1String("/>"));
        } else {
            flushNewline();
            if (!frame.lastText)
                indent(frame.depth);
            m_out.put(QLatin1String("</"));
            m_out.put(name);
            m_out.put(QLatin1Char('>'));
        }
        m_newline = true;
    }
    // Attribute values and text that need no escaping, as they stand in a plain document.
    template <typename Name> void attribute(const Name &name, QLatin1String value)
    {
        m_out.put(QLatin1Char(' '));
        m_out.put(name);
        m_out.put(QLatin1String("=\""));
        m_out.put(value);
        m_out.put(QLatin1Char('"'));
    }
    void characters(QLatin1String text)
    {
        beginChild(true);
        m_out.put(text);
    }
    // Text the reader took for white space alone (literal spaces and line ends) is dropped.
    void characters(const QChar *text, int size, bool whitespace)
    {
        if (whitespace)
            return;
        beginChild(true);
        appendEscaped(m_out, text, size, false);
    }
    void cdata(const QStringRef &text)
    {
        beginChild(true);
        m_out.put(QLatin1String("<![CDATA["));
        m_out.put(text);
        m_out.put(QLatin1String("]]>"));
    }
    void comment(const QChar *text, int size)
    {
        beginChild(false);
        m_out.put(QLatin1String("<!--"));
        m_out.put(text, size);
        if (size > 0 && text[size - 1] == QLatin1Char('-'))
            m_out.put(QLatin1Char(' '));
        m_out.put(QLatin1String("-->"));
        m_newline = true;
    }
    void endDocument() { flushNewline(); }

    // One token of the stream reader.
    void token(const QXmlStreamReader &reader, QXmlStreamReader::TokenType token)
    {
        switch (token) {
        case QXmlStreamReader::StartElement: {
            startElement(reader.qualifiedName());
            // Held const: a range-for over the returned (non-const) vector would detach and copy it.
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute &item : attributes)
                attribute(item.qualifiedName(), item.value().constData(), item.value().size());
            break;
        }
        case QXmlStreamReader::EndElement:
            endElement(reader.qualifiedName());
            break;
        case QXmlStreamReader::Characters:
            if (reader.isCDATA())
                cdata(reader.text());
            else
                characters(reader.text().constData(), reader.text().size(), reader.isWhitespace());
            break;
        case QXmlStreamReader::Comment:
            comment(reader.text().constData(), reader.text().size());
            break;
        case QXmlStreamReader::EndDocument:
            endDocument();
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
        if (!m_stack.empty()) {
            Frame &parent = m_stack.back();
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
            indent(int(m_stack.size()));
    }

    void flushNewline()
    {
        if (m_newline)
            m_out.put(QLatin1Char('\n'));
        m_newline = false;
    }

    void indent(int depth) { m_out.fill(QLatin1Char(' '), depth); }

    TextSink &m_out;
    std::vector<Frame> m_stack;
    bool m_newline = false;
};

// What a byte may be where no decoding, normalising or escaping is needed.
enum ByteClass : uchar {
    SimpleText = 1, // printable ASCII but '<', '&' and '>'; tab and line feed
    SimpleValue = 2, // printable ASCII but '<', '&', '>' and the quotes
    Space = 4, // the stream reader's white space
    NameStart = 8, // what begins a name here: ASCII letters and '_'
    NameChar = 16, // what continues it: also digits, '.' and '-'
};
struct ByteClasses
{
    uchar of[256] = {};
    constexpr ByteClasses()
    {
        for (int c = 0x20; c < 0x7f; ++c) {
            const bool markup = c == '<' || c == '&' || c == '>';
            of[c] = uchar((markup ? 0 : SimpleText) | (markup || c == '"' || c == '\'' ? 0 : SimpleValue));
        }
        of[int('\t')] = SimpleText | Space;
        of[int('\n')] = SimpleText | Space;
        of[int('\r')] = Space;
        of[int(' ')] |= Space;
        for (int c = 0; c < 26; ++c) {
            of['a' + c] |= NameStart | NameChar;
            of['A' + c] |= NameStart | NameChar;
        }
        of[int('_')] |= NameStart | NameChar;
        for (int c = '0'; c <= '9'; ++c)
            of[c] |= NameChar;
        of[int('.')] |= NameChar;
        of[int('-')] |= NameChar;
    }
};
constexpr ByteClasses Classes {};

// The plain XML that the course tools write, read straight from its UTF-8 bytes: elements,
// attributes, text with the predefined entities and character references, comments. The stream
// reader spends most of a scan on generality such documents never use. Whatever lies outside
// that subset (other encodings, a byte order mark, prefixes, CDATA, processing instructions,
// document types, characters that are rare and doubtful) and whatever is wrong makes it give up, and the caller reads
// the document again with the stream reader, which accepts or refuses it as it always did. So this reader only has to
// be right about what it accepts: a well-formed document no deeper than the limit, laid out as the stream reader's
// tokens are.
class PlainReader
{
public:
    PlainReader(DomLayout &layout, int maxDepth)
        : m_layout(layout)
        , m_maxDepth(maxDepth)
    { }

    // Reads the next piece of the document, which must end where the document does or just
    // before a '<' (so that no name, reference, character or text is cut: a comment may be,
    // and is then given up on). False when the reader gives up.
    bool read(const char *begin, const char *end)
    {
        m_begin = begin;
        m_p = begin;
        m_end = end;
        if (!m_started) {
            m_started = true;
            if (!declaration())
                return false;
        }
        while (m_p < m_end) {
            if (*m_p != '<') {
                if (!text())
                    return false;
                continue;
            }
            if (++m_p == m_end)
                return false;
            if (*m_p == '/') {
                ++m_p;
                if (!endTag())
                    return false;
            } else if (*m_p == '!') {
                if (m_end - m_p < 3 || m_p[1] != '-' || m_p[2] != '-')
                    return false;
                m_p += 3;
                if (!comment())
                    return false;
            } else if (!startTag()) {
                return false;
            }
        }
        return true;
    }

    // After the last piece: false unless the document was whole.
    bool finish()
    {
        if (!m_rootClosed)
            return false;
        m_layout.endDocument();
        return true;
    }

private:
    // Characters taken here: the ones XML allows, less the C1 controls, DEL and the
    // non-characters, whose handling is left to the stream reader.
    static bool plainCharacter(uint c)
    {
        if (c < 0x80)
            return c >= 0x20 ? c != 0x7f : (c == '\t' || c == '\n' || c == '\r');
        if (c < 0xa0)
            return false;
        if (c <= 0xd7ff)
            return true;
        if (c >= 0xe000 && c <= 0xfffd)
            return c < 0xfdd0 || c > 0xfdef;
        return c >= 0x10000 && c <= 0x10ffff && (c & 0xfffe) != 0xfffe;
    }

    void append(uint c)
    {
        if (c >= 0x10000) {
            m_chars.push_back(QChar(QChar::highSurrogate(c)));
            m_chars.push_back(QChar(QChar::lowSurrogate(c)));
        } else {
            m_chars.push_back(QChar(ushort(c)));
        }
    }

    bool skipSpace()
    {
        const char *start = m_p;
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\t' || *m_p == '\r'))
            ++m_p;
        return m_p != start;
    }

    // Only the declarations course tools write; any other one is left to the stream reader.
    bool declaration()
    {
        if (m_end - m_p < 2 || m_p[0] != '<' || m_p[1] != '?')
            return true;
        static const char *const Accepted[] = {
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
            "<?xml version=\"1.0\"?>",
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>",
        };
        for (const char *accepted : Accepted) {
            const qptrdiff length = qptrdiff(qstrlen(accepted));
            if (m_end - m_p >= length && std::equal(accepted, accepted + length, m_p)) {
                m_p += length;
                return true;
            }
        }
        return false;
    }

    bool name(QLatin1String &out)
    {
        const char *start = m_p;
        if (m_p == m_end || !(Classes.of[uchar(*m_p)] & NameStart))
            return false;
        while (++m_p < m_end && (Classes.of[uchar(*m_p)] & NameChar)) { }
        out = QLatin1String(start, int(m_p - start));
        return true;
    }

    // One UTF-8 encoded character at m_p, strictly: no overlong forms, surrogates or values past
    // Unicode.
    bool character()
    {
        const uchar lead = uchar(*m_p);
        int length = 0;
        uint c = 0;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            c = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            c = lead & 0x0f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            c = lead & 0x07;
        } else {
            return false;
        }
        if (m_end - m_p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            const uchar next = uchar(m_p[i]);
            if ((next & 0xc0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3f);
        }
        if ((length == 3 && c < 0x800) || (length == 4 && c < 0x10000) || !plainCharacter(c))
            return false;
        append(c);
        m_p += length;
        return true;
    }

    // A reference at m_p ('&'): one of the five predefined entities or a character reference.
    bool reference()
    {
        const char *p = m_p + 1;
        if (p < m_end && *p == '#') {
            const bool hex = ++p < m_end && *p == 'x';
            if (hex)
                ++p;
            uint c = 0;
            int digits = 0;
            for (; p < m_end && *p != ';'; ++p) {
                const char d = *p;
                uint value;
                if (d >= '0' && d <= '9')
                    value = uint(d - '0');
                else if (hex && d >= 'a' && d <= 'f')
                    value = uint(d - 'a' + 10);
                else if (hex && d >= 'A' && d <= 'F')
                    value = uint(d - 'A' + 10);
                else
                    return false;
                if (++digits > 7)
                    return false;
                c = c * (hex ? 16 : 10) + value;
            }
            if (p == m_end || digits == 0 || !plainCharacter(c))
                return false;
            append(c);
            m_p = p + 1;
            return true;
        }
        static const struct
        {
            const char *name;
            char c;
        } Entities[] = { { "lt;", '<' }, { "gt;", '>' }, { "amp;", '&' }, { "quot;", '"' }, { "apos;", '\'' } };
        for (const auto &entity : Entities) {
            const qptrdiff length = qptrdiff(qstrlen(entity.name));
            if (m_end - p >= length && std::equal(entity.name, entity.name + length, p)) {
                m_chars.push_back(QLatin1Char(entity.c));
                m_p = p + length;
                return true;
            }
        }
        return false;
    }

    // Element text up to the next '<', handed to the layout. The stream reader takes text for
    // white space only when it holds literal spaces, tabs and line ends alone.
    bool text()
    {
        const char *start = m_p;
        bool whitespace = true;
        for (; m_p < m_end && (Classes.of[uchar(*m_p)] & SimpleText); ++m_p) {
            if (!(Classes.of[uchar(*m_p)] & Space))
                whitespace = false;
        }
        if (m_p == m_end || *m_p == '<') {
            // Outside the root element nothing but white space may stand.
            if (whitespace || m_openStarts.empty())
                return whitespace;
            m_layout.characters(QLatin1String(start, int(m_p - start)));
            return true;
        }
        m_p = start;
        if (!decodeText(whitespace))
            return false;
        if (m_openStarts.empty() && !whitespace)
            return false;
        m_layout.characters(m_chars.data(), int(m_chars.size()), whitespace);
        return true;
    }

    // Text with references, line ends to normalise or characters beyond ASCII into m_chars.
    bool decodeText(bool &whitespace)
    {
        whitespace = true;
        m_chars.clear();
        while (m_p < m_end) {
            const uchar c = uchar(*m_p);
            if (c == '<')
                break;
            if (c == '&' || c >= 0x80) {
                if (!(c == '&' ? reference() : character()))
                    return false;
                whitespace = false;
                continue;
            }
            if (c == '\r') {
                m_chars.push_back(QLatin1Char('\n'));
                if (++m_p < m_end && *m_p == '\n')
                    ++m_p;
                continue;
            }
            if (!plainCharacter(c))
                return false;
            // "]]>" may not stand in text: any '>' after a ']' is left to the stream reader.
            if (c == '>' && m_p > m_begin && m_p[-1] == ']')
                return false;
            if (c != ' ' && c != '\n' && c != '\t')
                whitespace = false;
            m_chars.push_back(QLatin1Char(char(c)));
            ++m_p;
        }
        return true;
    }

    // An attribute value at m_p (its opening quote), handed to the layout.
    bool attributeValue(QLatin1String name)
    {
        const char quote = *m_p++;
        const char *start = m_p;
        while (m_p < m_end && (Classes.of[uchar(*m_p)] & SimpleValue))
            ++m_p;
        if (m_p < m_end && *m_p == quote) {
            m_layout.attribute(name, QLatin1String(start, int(m_p - start)));
            ++m_p;
            return true;
        }
        m_p = start;
        if (!decodeValue(quote))
            return false;
        m_layout.attribute(name, m_chars.data(), int(m_chars.size()));
        return true;
    }

    // The rest of an attribute value into m_chars, white space normalised to spaces as XML wants it.
    bool decodeValue(char quote)
    {
        m_chars.clear();
        while (m_p < m_end) {
            const uchar c = uchar(*m_p);
            if (c == uchar(quote)) {
                ++m_p;
                return true;
            }
            if (c == '<')
                return false;
            if (c == '&' || c >= 0x80) {
                if (!(c == '&' ? reference() : character()))
                    return false;
                continue;
            }
            if (c == '\r' || c == '\n' || c == '\t') {
                m_chars.push_back(QLatin1Char(' '));
                if (++m_p < m_end && c == '\r' && *m_p == '\n')
                    ++m_p;
                continue;
            }
            if (!plainCharacter(c) || (c == '>' && m_p[-1] == ']'))
                return false;
            m_chars.push_back(QLatin1Char(char(c)));
            ++m_p;
        }
        return false;
    }

    // A start tag after its '<'.
    bool startTag()
    {
        QLatin1String tag;
        if (m_rootClosed || !name(tag) || int(m_openStarts.size()) >= m_maxDepth)
            return false;
        m_layout.startElement(tag);
        m_attributes.clear();
        for (;;) {
            const bool spaced = skipSpace();
            if (m_p == m_end)
                return false;
            if (*m_p == '>') {
                ++m_p;
                m_openStarts.push_back(int(m_openNames.size()));
                m_openNames.append(tag.data(), size_t(tag.size()));
                return true;
            }
            if (*m_p == '/') {
                if (m_end - m_p < 2 || m_p[1] != '>')
                    return false;
                m_p += 2;
                m_layout.endElement(tag);
                m_rootClosed = m_openStarts.empty();
                return true;
            }
            QLatin1String attribute;
            if (!spaced || !name(attribute))
                return false;
            // Names beginning with "xml" are reserved; the stream reader decides about them.
            const char *a = attribute.data();
            if (attribute.size() >= 3 && (a[0] | 0x20) == 'x' && (a[1] | 0x20) == 'm' && (a[2] | 0x20) == 'l')
                return false;
            if (std::find(m_attributes.begin(), m_attributes.end(), attribute) != m_attributes.end())
                return false;
            m_attributes.push_back(attribute);
            skipSpace();
            if (m_p == m_end || *m_p != '=')
                return false;
            ++m_p;
            skipSpace();
            if (m_p == m_end || (*m_p != '"' && *m_p != '\'') || !attributeValue(attribute))
                return false;
        }
    }

    // An end tag after its "</".
    bool endTag()
    {
        QLatin1String tag;
        if (!name(tag))
            return false;
        skipSpace();
        if (m_p == m_end || *m_p != '>' || m_openStarts.empty())
            return false;
        const int open = m_openStarts.back();
        if (QLatin1String(m_openNames.data() + open, int(m_openNames.size()) - open) != tag)
            return false;
        ++m_p;
        m_openStarts.pop_back();
        m_openNames.resize(size_t(open));
        m_layout.endElement(tag);
        m_rootClosed = m_openStarts.empty();
        return true;
    }

    // A comment after its "<!--". Carriage returns in comments are left to the stream reader.
    bool comment()
    {
        m_chars.clear();
        while (m_p < m_end) {
            const uchar c = uchar(*m_p);
            if (c == '-' && m_end - m_p >= 2 && m_p[1] == '-') {
                // "--" may only end a comment.
                if (m_end - m_p < 3 || m_p[2] != '>')
                    return false;
                m_p += 3;
                m_layout.comment(m_chars.data(), int(m_chars.size()));
                return true;
            }
            if (c >= 0x80) {
                if (!character())
                    return false;
                continue;
            }
            if (c == '\r' || !plainCharacter(c))
                return false;
            m_chars.push_back(QLatin1Char(char(c)));
            ++m_p;
        }
        return false;
    }

    const char *m_begin = nullptr; // the piece being read
    const char *m_p = nullptr;
    const char *m_end = nullptr;
    DomLayout &m_layout;
    const int m_maxDepth;
    bool m_started = false;
    // The names of the open elements, innermost last, copied: their pieces are gone.
    std::string m_openNames;
    std::vector<int> m_openStarts;
    std::vector<QLatin1String> m_attributes; // of the start tag being read
    std::vector<QChar> m_chars; // the text, attribute value or comment being read
    bool m_rootClosed = false;
};

// The next size bytes of device laid out by the plain reader, read in blocks of blockSize (each
// cut before its last '<'), so that the bytes in memory stay few beside the text.
bool layoutPlain(QIODevice *device, qint64 size, QString &text, int maxDepth, int blockSize = 1 << 18)
{
    // The layout is about a tenth longer than a course document.
    TextSink out(int(size + size / 4));
    DomLayout layout(out);
    PlainReader reader(layout, maxDepth);
    QByteArray buffer;
    qint64 left = size;
    while (left > 0) {
        const int kept = buffer.size();
        const int wanted = int(qMin<qint64>(left, blockSize));
        buffer.resize(kept + wanted);
        if (device->read(buffer.data() + kept, wanted) != wanted)
            return false;
        left -= wanted;
        const int cut = left > 0 ? buffer.lastIndexOf('<') : buffer.size();
        // No '<' to cut before yet: the piece goes on in the next block.
        if (cut <= 0)
            continue;
        if (!reader.read(buffer.constData(), buffer.constData() + cut))
            return false;
        buffer.remove(0, cut);
    }
    if (!buffer.isEmpty() || !reader.finish())
        return false;
    text = out.take();
    return true;
}

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
    const qint64 start = device->pos();
    const qint64 size = device->size() - start;
    // Most documents are plain and laid out straight from their bytes; the rest are read again
    // below.
    constexpr qint64 PlainLimit = 1 << 26;
    if (!device->isSequential() && size > 0 && size <= PlainLimit) {
        if (layoutPlain(device, size, text, maxDepth))
            return true;
        if (!device->seek(start)) {
            if (errorText)
                *errorText = QStringLiteral("cannot read the document again: %1").arg(device->errorString());
            return false;
        }
    }

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

// SPDX-License-Identifier: GPL-3.0-or-later
#include "smtpreplyreader.h"

QList<SmtpReplyReader::Reply> SmtpReplyReader::feed(const QByteArray &bytes)
{
    QList<Reply> replies;
    if (m_error != Error::None)
        return replies;
    int start = 0;
    while (start < bytes.size()) {
        const int end = bytes.indexOf('\n', start);
        const int stop = end < 0 ? bytes.size() : end + 1;
        if (m_partial.size() + (stop - start) > MaxLineLength) {
            m_error = Error::LineTooLong;
            m_partial.clear();
            return replies;
        }
        m_partial.append(bytes.constData() + start, stop - start);
        start = stop;
        if (end < 0)
            break;
        const QString line = QString::fromUtf8(m_partial);
        m_partial.clear();
        m_text += line;
        if (++m_lines > MaxLines) {
            m_error = Error::TooManyLines;
            m_text.clear();
            return replies;
        }
        // "250-" announces more lines of the same reply; they may arrive in a later packet.
        if (line.size() > 3 && line.at(3) == QLatin1Char('-'))
            continue;
        replies.append({ line.left(3), m_text });
        m_text.clear();
        m_lines = 0;
    }
    return replies;
}

void SmtpReplyReader::reset()
{
    m_partial.clear();
    m_text.clear();
    m_lines = 0;
}

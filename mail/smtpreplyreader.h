// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Turns the bytes a mail server sends into complete replies. A reply is one line "250 text" or
// several, all but the last marked "250-text"; lines end with LF (CR LF counts as one). Lines and
// replies are bounded, so that a server sending without end cannot make the buffer grow for
// ever. Pure: no sockets, no clock.
class SmtpReplyReader
{
public:
    // Longer than the 512 bytes the mail standard allows a reply line, to be lenient.
    static constexpr int MaxLineLength = 2048;
    static constexpr int MaxLines = 200; // lines of one reply

    struct Reply
    {
        QString code; // the first three characters of the last line
        QString text; // every line of the reply as received, line ends included
    };
    enum class Error { None, LineTooLong, TooManyLines };

    // Appends bytes and returns the replies they complete, oldest first. Once an error was
    // found it stays and nothing more is returned.
    QList<Reply> feed(const QByteArray &bytes);
    Error error() const { return m_error; }
    // Forgets everything buffered (the connection changes, as after STARTTLS).
    void reset();

private:
    QByteArray m_partial; // the line still being received
    QString m_text; // complete lines of the reply still being received
    int m_lines = 0;
    Error m_error = Error::None;
};

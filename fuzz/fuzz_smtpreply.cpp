// SPDX-License-Identifier: GPL-3.0-or-later
// What a mail server answers, as the mail client reads it: the bytes arrive in packets of any
// size, and however they are cut, the same replies (or the same error) must come out.
#include "fuzzsupport.h"
#include "smtpreplyreader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    kestFuzz::initialise(argc, argv);
    return 0;
}

namespace {

bool sameReplies(const QList<SmtpReplyReader::Reply> &a, const QList<SmtpReplyReader::Reply> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a.at(i).code != b.at(i).code || a.at(i).text != b.at(i).text)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the packet size, the rest is what the server sent.
    const int packet = 1 + data[0] % 64;
    const QByteArray sent(reinterpret_cast<const char *>(data + 1), int(size - 1));

    SmtpReplyReader whole;
    const QList<SmtpReplyReader::Reply> wholeReplies = whole.feed(sent);

    SmtpReplyReader pieces;
    QList<SmtpReplyReader::Reply> piecesReplies;
    for (int at = 0; at < sent.size(); at += packet) {
        const QList<SmtpReplyReader::Reply> replies = pieces.feed(sent.mid(at, packet));
        // An error stays, and nothing comes after it.
        if (pieces.error() != SmtpReplyReader::Error::None && at + packet < sent.size()
            && !pieces.feed(QByteArray("250 OK\r\n")).isEmpty())
            std::abort();
        piecesReplies += replies;
        if (pieces.error() != SmtpReplyReader::Error::None)
            break;
    }
    if (whole.error() != pieces.error())
        std::abort();
    if (whole.error() == SmtpReplyReader::Error::None && !sameReplies(wholeReplies, piecesReplies))
        std::abort();
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A Text action's text as a course author (or a mangled download) may write it, expanded with a
// few variables set, after assignments in every arithmetic form. Input: the text, then optional
// NUL-separated "name=value" assignments made first.
#include "fuzzsupport.h"
#include "textexpansion.h"
#include "variablestore.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    kestFuzz::initialise(argc, argv);
    kestVariables::setSubProjectNameProvider([] { return QStringLiteral("Scene $SUBPROJECT [1+1]"); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = kestFuzz::sections(data, size, 8);

    kestVariables::clear();
    // Numbers at the edges of double, texts that look like operators or placeholders, and names
    // that are prefixes of one another.
    static const char *const preset[][2] = { { "Score", "21" }, { "a", "1" }, { "b", "2" }, { "Name", "Ann" },
        { "Big", "1e308" }, { "Tiny", "-4.9e-324" }, { "Minus", "-3" }, { "NaN", "nan" }, { "Inf", "inf" },
        { "Op", "[a+b]" }, { "Par", "(Name)" }, { "Dollar", "$TIME" }, { "USERPATH", "/course/" } };
    for (const auto &variable : preset)
        kestVariables::assignVariable(QLatin1String(variable[0]), QLatin1String(variable[1]));
    for (int i = 1; i < parts.size(); ++i) {
        const QString assignment = QString::fromUtf8(parts.at(i));
        const int equals = assignment.indexOf(QLatin1Char('='));
        if (equals > 0)
            kestVariables::assignVariable(assignment.left(equals), assignment.mid(equals + 1));
    }

    const QString text = QString::fromUtf8(parts.first());
    kestTextExpansion::expand(text);
    // The same text as a script's file path.
    kestVariables::resolveUserPath(text);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestlanguages.h"

namespace kestLanguages {

namespace {

const kestLanguage Table[Count] = {
    { "eng", "TAVELO English Version", ":/Resources/eu/en.png", ":/Resources/eu/en_t.png",
        ":/Resources/downloadEng.png" },
    { "bg", "TAVELO Bulgarian Version", ":/Resources/eu/bg.png", ":/Resources/eu/bg_t.png",
        ":/Resources/downloadBG.png" },
    { "cz", "TAVELO Czech Version", ":/Resources/eu/cz.png", ":/Resources/eu/cz_t.png", ":/Resources/downloadCZ.png" },
    { "ger", "TAVELO German Version", ":/Resources/eu/ger.png", ":/Resources/eu/ger_t.png",
        ":/Resources/downloadGER.png" },
    { "lat", "TAVELO Latvian Version", ":/Resources/eu/lat.png", ":/Resources/eu/lat_t.png",
        ":/Resources/downloadLat.png" },
    { "lit", "TAVELO Lithuanian Version", ":/Resources/eu/lit.png", ":/Resources/eu/lit_t.png",
        ":/Resources/downloadLit.png" },
};

} // namespace

const kestLanguage &at(int index)
{
    return Table[index];
}

const kestLanguage *forCode(const QString &code)
{
    for (const kestLanguage &language : Table) {
        if (code == QLatin1String(language.code))
            return &language;
    }
    return nullptr;
}

const kestLanguage *forTitle(const QString &title)
{
    for (const kestLanguage &language : Table) {
        if (title == QLatin1String(language.title))
            return &language;
    }
    return nullptr;
}

} // namespace kestLanguages

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The six language versions of a course: code, catalogue title and the pictures the start-up
// dialogs show for each. The one table of them in the player.
struct kestLanguage
{
    const char *code; // "eng", "bg", "cz", "ger", "lat", "lit"
    const char *title; // the course's "Name" in the catalogue
    const char *logo; // course selection dialog: the language's logo
    const char *notice; // course selection dialog: the funding notice in that language
    const char *progressPicture; // installation progress window
};

namespace kestLanguages {

// In the order of the course selection dialog's buttons.
constexpr int Count = 6;
const kestLanguage &at(int index);
// The entry of a language code; nullptr for anything else.
const kestLanguage *forCode(const QString &code);
// The entry of a catalogue title; nullptr for anything else.
const kestLanguage *forTitle(const QString &title);

} // namespace kestLanguages

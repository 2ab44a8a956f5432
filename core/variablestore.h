// SPDX-License-Identifier: GPL-3.0-or-later
// The process-wide store of named text variables through which scripts, the project and
// start-up talk to each other.
#pragma once

#include <QString>

#include <functional>

class QMutex;

// Every operation is safe from any thread: reads share the store's lock, writes take it alone.
namespace kestVariables {

// The stored value of name, "" when it was never written. Names are case-sensitive, untrimmed.
QString variableValue(const QString &name);

// The value of the variable named text when it has a non-empty one; else "" for a text that
// starts with "$" or "%", else the text itself. Always trimmed.
QString resolveValue(const QString &text);

// Stores value under name. "!+x" / "!-x" add / subtract the number x (a variable name stands for
// its value; x equal to name counts name up / down by one), "!text" stores text literally with
// every "!" removed, names starting with "%" take the value as written, and anything else is
// passed through resolveValue first. Arithmetic is done under the store's write lock, so
// concurrent increments are never lost.
void assignVariable(const QString &name, const QString &value);

// Replaces, in plain text, every occurrence of every variable's name by its value, going
// through the store in name order. Used for file paths.
QString substituteVariables(const QString &text);

// A script's file path as a path on disk: variables substituted, backslashes made "/", and put
// below USERPATH unless the path named USERPATH itself.
QString resolveUserPath(const QString &path);

// General notation with six significant digits: 7, 2.5, 0.333333, 1.23457e+06, inf.
QString formatNumber(double value);

// Serialises SetValue, Text evaluation and LoadTextfile. Never execute an action while holding
// it: arguments are evaluated first, since a Text argument takes it itself.
QMutex &scriptMutex();

// The extern-variable file: accepted when it opens and its first line is not a web server's
// error page. Returns whether the candidate was taken; otherwise the path is left as it was.
bool setExternVariablePath(const QString &candidate);
QString externVariablePath();

// Assigns every key=value of the named section (exact name) of an INI-style file, in file order,
// with every "/" in a value turned into "\". Values are taken as written, trimmed and without
// surrounding quotes: backslashes are path separators there, not escapes, and commas and
// semicolons are part of the text. Lines starting with ";" or "#" are comments. False when the
// file does not open.
bool assignIniSection(const QString &path, const QString &section);

// The name "$SUBPROJECT" expands to. The provider is called on worker threads, so it must be
// thread-safe; without one the name is "".
void setSubProjectNameProvider(std::function<QString()> provider);
QString subProjectName();

// Forgets every variable and the extern-variable path (entries are otherwise never removed).
// For tests.
void clear();

} // namespace kestVariables

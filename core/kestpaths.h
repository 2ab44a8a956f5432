// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Paths every layer builds the same way.
namespace kestPaths {

// Joins a folder and a file name with exactly one "/" (backslashes become "/").
QString joinPath(const QString &folder, const QString &file);

// The player's settings file "Tavelo.ini" in the folder INIPATH names; "" while INIPATH is
// unset, since joining an empty folder would point at the root of the file system.
QString settingsFile();

// A value of the settings file as text; "" when the file, the section or the key is missing. An
// unquoted value with commas ("rgb(1, 2, 3)") reads as the text it was written as.
QString readSetting(const QString &section, const QString &key);

} // namespace kestPaths

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Finds the mistakes in a course that the player passes over without a word: documents that do
// not parse, unknown names, wrong argument counts, references to scenes, procedures, entities,
// files and variables that do not exist, and scenes nothing leads to. Reads files only: no
// display, no scripts, no sound, no network.
namespace kestCheck {

enum class Severity { Error, Warning };

struct Problem
{
    QString file;
    int line = 0;
    int column = 0;
    Severity severity = Severity::Error;
    QString rule;
    QString message;
};

struct Report
{
    QList<Problem> problems; // sorted by file, line and column
    QStringList unreadable; // paths that are neither a course folder, a document nor a catalogue
    int fileCount = 0; // documents, variables files and catalogues read
    int errors() const;
    int warnings() const;
};

// Checks each path: a course folder (every ".avx" in it and its variables file), a project
// document (with the rest of its folder as context), or a catalogue ("tavelo.xml", or a user
// folder holding one), which checks every installed course it lists.
Report check(const QStringList &paths);

// "FILE:LINE:COLUMN: error|warning RULE: message" lines and a summary line.
QString formatText(const Report &report);
// A JSON array of objects with file, line, column, severity, rule and message.
QByteArray formatJson(const Report &report);

} // namespace kestCheck

// SPDX-License-Identifier: GPL-3.0-or-later
// What every harness needs: one application object per process, quiet logging, scratch files.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace kestFuzz {

// Makes the process's one QCoreApplication (the fuzzer calls a harness millions of times) and
// turns off the player's debug and warning lines, which would cost more than the parsing.
void initialise(int *argc, char ***argv);

// An empty folder of this process's own below the temporary folder.
QString scratchFolder();

// Writes data to path, replacing the file; aborts when it cannot, since the harness would then
// test nothing.
void writeFile(const QString &path, const QByteArray &data);

// The input cut at its first count - 1 NUL bytes: a harness that needs several files takes them
// from one input this way. Missing sections are absent from the list, not empty.
QList<QByteArray> sections(const uint8_t *data, size_t size, int count);

} // namespace kestFuzz

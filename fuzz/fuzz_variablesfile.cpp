// SPDX-License-Identifier: GPL-3.0-or-later
// A course's variables file (or an extern-variable file) as the server sent it: accepted or
// refused as an error page, then its "Global" section loaded into the variable store.
#include "fuzzsupport.h"
#include "variablestore.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    kestFuzz::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = kestFuzz::scratchFolder() + QStringLiteral("/variables_win.txt");
    kestFuzz::writeFile(path, QByteArray(reinterpret_cast<const char *>(data), int(size)));

    kestVariables::clear();
    if (kestVariables::setExternVariablePath(path))
        kestVariables::assignIniSection(kestVariables::externVariablePath(), QStringLiteral("Global"));
    return 0;
}

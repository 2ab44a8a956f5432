// SPDX-License-Identifier: GPL-3.0-or-later
// A course catalogue as a course server may send it: read and walked as the installer walks it,
// then compared with a local catalogue for the parts to fetch. Input: the server's catalogue, then
// optionally a NUL and the local one (without it there is no local catalogue).
#include "coursecatalogue.h"
#include "courseinstaller.h"
#include "fuzzsupport.h"

#include <QFile>
#include <QUrl>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    kestFuzz::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString folder = kestFuzz::scratchFolder() + QLatin1Char('/');
    static const QString server = folder + QStringLiteral("server.xml");
    static const QString local = folder + QStringLiteral("tavelo.xml");
    static const QString temporary = folder + QStringLiteral("temp_tavelo.xml");
    const QList<QByteArray> parts = kestFuzz::sections(data, size, 2);
    kestFuzz::writeFile(server, parts.first());
    QFile::remove(local);
    if (parts.size() > 1)
        kestFuzz::writeFile(local, parts.at(1));

    const QDomDocument catalogue = kestCatalogue::read(server);
    for (const QString &title : kestCatalogue::offeredTitles(catalogue)) {
        kestCatalogue::codeForTitle(title);
        for (const QDomElement &part : kestCatalogue::parts(kestCatalogue::findCourse(catalogue, title)))
            kestCatalogue::partFileName(part.attribute(QStringLiteral("Url")));
    }

    // The comparison fetches the server catalogue; a file address stands in for the server.
    CourseInstaller installer(folder, QStringLiteral("127.0.0.1:9"), QStringLiteral("kestor:lesson"));
    bool ok = false;
    installer.findChangedParts(local, temporary, QUrl::fromLocalFile(server).toString(), &ok);
    return 0;
}

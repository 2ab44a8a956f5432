// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestscenepictures.h"

#include <QDateTime>
#include <QFileInfo>

QUrl kestScenePictures::stamped(const QUrl &url) const
{
    if (!url.isLocalFile())
        return url;
    const QFileInfo info(url.toLocalFile());
    if (!info.isFile())
        return url;
    // The file is read by its local path, which leaves the query out.
    QUrl result(url);
    result.setQuery(QStringLiteral("%1-%2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()));
    return result;
}

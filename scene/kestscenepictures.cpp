// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestscenepictures.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

QUrl kestScenePictures::stamped(const QUrl &url)
{
    if (!url.isLocalFile())
        return url;
    const QString path = url.toLocalFile();
    const auto given = m_given.constFind(path);
    if (given != m_given.constEnd())
        return given.value();
    const QFileInfo info(path);
    if (!info.isFile())
        return url;
    // The file is read by its local path, which leaves the query out.
    QUrl result(url);
    result.setQuery(QStringLiteral("%1-%2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()));
    m_given.insert(path, result);
    if (!m_forgetQueued) {
        m_forgetQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_given.clear();
            m_forgetQueued = false;
        });
    }
    return result;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QUrl>

// Gives the scene document the address under which it loads a picture: a local file's address
// carries the file's size and modification time, so that Qt Quick's picture cache, keyed by
// address, serves an unchanged picture without decoding it again and reads a replaced one anew.
// GUI thread only.
class kestScenePictures : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // url itself for anything but an existing local file.
    Q_INVOKABLE QUrl stamped(const QUrl &url) const;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
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
    Q_INVOKABLE QUrl stamped(const QUrl &url);

private:
    // The addresses given since control last went back to the event loop: a scene entry asks
    // for the same few pictures a hundred times over, and a file looked at again within one
    // entry would look the same. Once the loop runs, every file is looked at anew.
    QHash<QString, QUrl> m_given;
    bool m_forgetQueued = false;
};

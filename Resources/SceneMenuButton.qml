// SPDX-License-Identifier: GPL-3.0-or-later
// A button of a menu bar: stays from one scene to the next until the project is reset.
import QtQuick 2.12

SceneEntity {
    z: 200
    emptyImageClears: false
    logsHits: false
}

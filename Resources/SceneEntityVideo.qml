// SPDX-License-Identifier: GPL-3.0-or-later
// The video an entity plays over itself (see SceneMedia.js, which drives it): hidden until it
// plays, muted with the scene's sounds.
import QtQuick 2.12
import QtMultimedia 5.12

Video {
    property Item entity: null
    // -1 plays for ever, n plays n more times after the first.
    property int repeatsLeft: 0
    property bool wanted: false
    property bool broken: false

    anchors.fill: parent
    z: 6
    visible: false
    muted: entity && entity.scene ? entity.scene.audioMuted : false
    onStopped: if (status === MediaPlayer.EndOfMedia && entity && entity.scene) entity.scene.entityVideoEnded(entity)
    onErrorChanged: if (error !== MediaPlayer.NoError && entity && entity.scene) entity.scene.entityVideoFailed(entity)
}

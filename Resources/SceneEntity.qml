// SPDX-License-Identifier: GPL-3.0-or-later
// An entity of the current scene: a box that scripts move and change, that may be dragged, and
// that can play a video over itself.
import QtQuick 2.12

SceneBox {
    // As the course wrote them, lower-cased; the scene sets draggable from dragDrop.
    property string dragDrop: "false"
    property string shouldDropRestore: "false"
    // The video it plays over itself (SceneEntityVideo), made by SceneMedia.js only when a video
    // is asked for, since a media player costs more than all the rest of an entity.
    property Item video

    logsHits: true

    // Centres the entity on a point of the frame; its restore position stays.
    function dragToPos(px, py) {
        lastSetX = px - lastSetW / 2;
        lastSetY = py - lastSetH / 2;
        resizeProperly();
    }
}

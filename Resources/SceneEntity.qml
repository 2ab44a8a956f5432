// SPDX-License-Identifier: GPL-3.0-or-later
// An entity of the current scene: a box that scripts move and change, that may be dragged, and
// that can play a video over itself.
import QtQuick 2.12
import QtMultimedia 5.12
import "SceneValues.js" as Values

SceneBox {
    id: entity

    property string dragDrop: "false"
    property string shouldDropRestore: "false"
    // The video's state lives here: its player is made only when a video is asked for, since
    // a media player costs more than all the rest of an entity.
    property int videoRepeat: 0
    property bool videoWanted: false
    property bool videoBroken: false

    draggable: dragDrop === "true"
    logsHits: true

    Loader {
        id: entityVideo
        anchors.fill: parent
        z: 6
        visible: false
        active: false
        sourceComponent: Component {
            Video {
                muted: entity.scene ? entity.scene.audioMuted : false
                onStopped: if (status === MediaPlayer.EndOfMedia) entity.videoEnded()
                onErrorChanged: if (error !== MediaPlayer.NoError) entity.videoFailed()
            }
        }
    }

    function videoPlayer() {
        entityVideo.active = true;
        return entityVideo.item;
    }

    function setVideofile(file) {
        videoBroken = false;
        videoPlayer().source = Values.fileUrl(file);
    }
    function videoPlay() {
        if (videoBroken) {
            videoDone();
            return;
        }
        var v = videoPlayer();
        videoWanted = true;
        entityVideo.visible = true;
        v.play();
    }
    function videoStop() {
        if (entityVideo.item)
            entityVideo.item.stop();
        videoDone();
    }
    function videoPause() {
        if (entityVideo.item)
            entityVideo.item.pause();
    }
    function setVideorepeat(rep) { videoRepeat = Values.toNumber(rep, 0); }
    function videoDone() {
        videoWanted = false;
        entityVideo.visible = false;
        if (scene)
            scene.reportVideoEnd();
    }
    function videoEnded() {
        if (videoRepeat === -1) {
            entityVideo.item.play();
            return;
        }
        if (videoRepeat > 0) {
            videoRepeat = videoRepeat - 1;
            entityVideo.item.play();
            return;
        }
        videoDone();
    }
    // A video that cannot play ends like a finished one once it is asked to play, so a script
    // waiting for it goes on.
    function videoFailed() {
        if (videoBroken)
            return;
        videoBroken = true;
        console.log("Entity video ERROR: " + entityVideo.item.errorString);
        if (videoWanted)
            videoDone();
    }

    function changePosition(posString) {
        var f = String(posString).split(";_;");
        if (f.length < 2)
            return;
        changeX(f[0]);
        changeY(f[1]);
    }
    function getPosition() { return lastSetX + ";_;" + lastSetY; }
    // Centres the entity on a point of the frame; its restore position stays.
    function dragToPos(px, py) {
        lastSetX = px - lastSetW / 2;
        lastSetY = py - lastSetH / 2;
        resizeProperly();
    }
    function restoreEntPos() {
        changeX(realX);
        changeY(realY);
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A video over the whole scene. Its end, its failure or a stop takes it out of the scene and
// tells the scene once, so that a script waiting for it goes on.
import QtQuick 2.12
import QtMultimedia 5.12

Video {
    id: video

    property Item scene: null
    property bool done: false

    objectName: "scenevideo"
    anchors.fill: parent
    fillMode: VideoOutput.PreserveAspectFit
    autoPlay: true
    muted: scene ? scene.audioMuted : false

    onStopped: finish()
    onErrorChanged: {
        if (error !== MediaPlayer.NoError) {
            console.log("Scene video ERROR: " + errorString);
            finish();
        }
    }

    function finish() {
        if (done)
            return;
        done = true;
        if (scene) {
            scene.removeObject(video);
            scene.reportVideoEnd();
        }
    }
    function stopVideo() {
        if (done)
            return;
        stop();
        finish();
    }
}

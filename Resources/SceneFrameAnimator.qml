// SPDX-License-Identifier: GPL-3.0-or-later
// A frame animation: shows its pictures one after the other on a target entity, every 33 ms.
// repeat -1 cycles until stopped; n stops at the n-th wrap to the first frame.
import QtQuick 2.12
import "SceneBoxes.js" as Boxes

Item {
    id: animator

    property int currentFrame: 0
    property int frameCount: -1
    property int repeatCount: 0
    property var target: null
    property int repeat: -1
    property var frames: []
    readonly property bool running: animTimer.running

    Timer {
        id: animTimer
        interval: 33
        repeat: true
        running: false
        onTriggered: animator.nextFrame()
    }

    function nextFrame() {
        if (!target || frameCount <= 0) {
            animTimer.stop();
            return;
        }
        if (currentFrame + 1 === frameCount) {
            currentFrame = 0;
            if (repeatCount + 1 === animator.repeat)
                animTimer.stop();
            else
                repeatCount = repeatCount + 1;
        } else {
            currentFrame = currentFrame + 1;
        }
        Boxes.changeFilename(target, frames[currentFrame]);
    }

    // text: the frame files separated by ",".
    function loadImages(text) {
        var parts = String(text).split(",");
        var list = [];
        for (var i = 0; i < parts.length; ++i) {
            if (parts[i] !== "")
                list.push(parts[i]);
        }
        frames = list;
        frameCount = list.length;
        console.log("Anim pushed " + frameCount + " Files");
    }
    function start() { animTimer.start(); }
    function stop() { animTimer.stop(); }
}
